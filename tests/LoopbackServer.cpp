#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "retrieval/HttpClient.h"
#include "retrieval/TransferEngine.h"

namespace perchlight::test {

LoopbackServer::~LoopbackServer() {
    // The server's threads would wait out the keep-alive time of the connections the transfer
    // engine keeps for reuse.
    TransferEngine::closeIdleConnections();
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LoopbackServer::start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0) << "no loopback port";
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool transfersEnd(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (HttpClient::activeTransfers() != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace perchlight::test
