#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace perchlight::test {

// A raw TCP server on 127.0.0.1 and a port of its own that answers every connection with the same
// bytes, written as given, and then closes it: for responses no HTTP server library would send,
// such as broken chunked bodies. Holding, it keeps each connection it accepts open and unanswered
// until release(), counting them: how many connections a client opens at once. Stops when the
// object goes.
class CannedResponseServer {
  public:
    explicit CannedResponseServer(std::string response, bool holding = false);
    ~CannedResponseServer();
    CannedResponseServer(const CannedResponseServer&) = delete;
    CannedResponseServer& operator=(const CannedResponseServer&) = delete;

    // The absolute URL of a path on this server; every path gets the same response.
    std::string url(const std::string& path) const;

    // The connections held now, waiting at most the bound until there are at least `atLeast`.
    int held(int atLeast = 0, std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Answers the held connections and every later one at once.
    void release();

  private:
    void serve();
    void answer(int connection) const;
    void answerHeld();

    const std::string response_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable heldChanged_;
    bool holding_;               // guarded by lock_
    std::vector<int> heldOnes_;  // guarded by lock_
    std::thread thread_;
};

}  // namespace perchlight::test
