#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace perchlight::test {

// A real HTTP server on 127.0.0.1 and a port of its own, serving the handlers a test installs
// on server() before start(). Stops when the object goes.
class LoopbackServer {
  public:
    LoopbackServer() = default;
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return server_; }
    void start();
    // The absolute URL of a path on this server, such as url("/w3c/p3p.xml").
    std::string url(const std::string& path) const;

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

// Waits until every transfer thread of the HTTP client, abandoned ones included, has ended; false
// only after a bound that no healthy transfer reaches.
bool transfersEnd(std::chrono::milliseconds bound = std::chrono::seconds(20));

}  // namespace perchlight::test
