// Serves one folder on 127.0.0.1 for the installed-layout test, run apart from the programs under
// test: prints its base URL as the first line of its output, writes the path of every request it
// answers to the log file, and serves until it is ended.
#include <httplib.h>

#include <fstream>
#include <iostream>
#include <mutex>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: perchlight_site_server FOLDER LOGFILE\n";
        return 64;
    }
    httplib::Server server;
    if (!server.set_mount_point("/", argv[1])) {
        std::cerr << "perchlight_site_server: no folder " << argv[1] << "\n";
        return 66;
    }
    std::ofstream log(argv[2]);
    std::mutex logLock;
    server.set_logger([&](const httplib::Request& request, const httplib::Response&) {
        const std::lock_guard<std::mutex> guard(logLock);
        log << request.path << std::endl;
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::cerr << "perchlight_site_server: cannot bind a loopback port\n";
        return 69;
    }
    std::cout << "http://127.0.0.1:" << port << std::endl;
    return server.listen_after_bind() ? 0 : 69;
}
