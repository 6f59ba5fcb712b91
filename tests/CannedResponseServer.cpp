#include "CannedResponseServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace perchlight::test {
namespace {

// How often the accepting thread looks whether it should stop.
constexpr int kPollMilliseconds = 20;
// How long a connection may keep the server waiting for its request.
constexpr timeval kRequestWait{5, 0};

}  // namespace

CannedResponseServer::CannedResponseServer(std::string response, bool holding)
    : response_(std::move(response)), holding_(holding) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool listening =
        listener_ >= 0 && bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        listen(listener_, 64) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (!listening) {
        ADD_FAILURE() << "no loopback port";
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

CannedResponseServer::~CannedResponseServer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listener_ >= 0) {
        close(listener_);
    }
    for (const int connection : heldOnes_) {
        close(connection);
    }
}

int CannedResponseServer::held(int atLeast, std::chrono::milliseconds bound) {
    std::unique_lock guard(lock_);
    heldChanged_.wait_for(
        guard, bound, [this, atLeast] { return static_cast<int>(heldOnes_.size()) >= atLeast; });
    return static_cast<int>(heldOnes_.size());
}

void CannedResponseServer::release() {
    std::lock_guard guard(lock_);
    holding_ = false;
}

void CannedResponseServer::answerHeld() {
    std::vector<int> connections;
    {
        std::lock_guard guard(lock_);
        if (holding_) {
            return;
        }
        connections.swap(heldOnes_);
    }
    for (const int connection : connections) {
        answer(connection);
        close(connection);
    }
}

std::string CannedResponseServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void CannedResponseServer::serve() {
    while (!stopping_) {
        answerHeld();
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, kPollMilliseconds) <= 0) {
            continue;
        }
        const int connection = accept(listener_, nullptr, nullptr);
        if (connection < 0) {
            continue;
        }
        {
            std::lock_guard guard(lock_);
            if (holding_) {
                heldOnes_.push_back(connection);
                heldChanged_.notify_all();
                continue;
            }
        }
        answer(connection);
        close(connection);
    }
}

// Reads the request head first, so that closing the connection cannot reset it before the client
// has read the response.
void CannedResponseServer::answer(int connection) const {
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &kRequestWait, sizeof kRequestWait);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t received = recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0) {
            return;
        }
        request.append(buffer, static_cast<std::size_t>(received));
    }
    std::size_t sent = 0;
    while (sent < response_.size()) {
        const ssize_t written =
            send(connection, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
        if (written <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(written);
    }
    shutdown(connection, SHUT_WR);
}

}  // namespace perchlight::test
