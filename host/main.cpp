// The native messaging host: the browser extension's agent, on stdin and stdout.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "browser/AgentServices.h"
#include "host/HostLoop.h"
#include "retrieval/HttpClient.h"
#include "util/DataLocations.h"
#include "util/HeapRetention.h"

namespace {

constexpr std::chrono::milliseconds kExitGrace{500};

}  // namespace

int main() {
    // The browser may close the pipe while a reply is being written: that is the end, not a crash.
    std::signal(SIGPIPE, SIG_IGN);
    perchlight::retainFreedHeap();
    // The browser passes its own arguments (the caller's origin or the manifest and extension
    // id); the host manifest already decided who may start the host, so they are not read.
    const int status = [] {
        perchlight::AgentServices services(perchlight::DataLocations::forThisProcess());
        return perchlight::runHost(services, STDIN_FILENO, STDOUT_FILENO);
    }();
    // Everything is saved. A download that a cancelled check abandoned may still wait on a stalled
    // site (up to the transfer's time-out): it must not meet the libraries' exit-time cleanup, so
    // such a process ends without it, after a short grace for transfers about to end.
    const auto deadline = std::chrono::steady_clock::now() + kExitGrace;
    while (perchlight::HttpClient::activeTransfers() != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (perchlight::HttpClient::activeTransfers() != 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
