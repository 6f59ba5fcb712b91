#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace perchlight::test {

// A raw TCP server on 127.0.0.1 and a port of its own that answers every connection with the same
// bytes, written as given, and then closes it: for responses no HTTP server library would send,
// such as broken chunked bodies. Stops when the object goes.
class CannedResponseServer {
  public:
    explicit CannedResponseServer(std::string response);
    ~CannedResponseServer();
    CannedResponseServer(const CannedResponseServer&) = delete;
    CannedResponseServer& operator=(const CannedResponseServer&) = delete;

    // The absolute URL of a path on this server; every path gets the same response.
    std::string url(const std::string& path) const;

  private:
    void serve();
    void answer(int connection) const;

    const std::string response_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace perchlight::test
