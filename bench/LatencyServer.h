#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct event_base;
struct evhttp;
struct evhttp_request;

namespace perchlight::bench {

// How one request is answered once the latency has passed.
struct Answer {
    enum class Kind {
        kWhole,  // status, headers and body at once
        kStall,  // nothing at all, ever
        kDrip,   // the status line, then one body byte a second
        kHuge,   // 200 MB of body in 64 KB chunks, as fast as the client reads
        kReset,  // the connection reset (RST) without an answer
    };
    Kind kind = Kind::kWhole;
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// A loopback HTTP server on one event thread (libevent's evhttp) that answers every request
// after a fixed latency without a thread per request, so that a benchmark measures its client
// and not its server. Keep-alive as HTTP/1.1 has it; a listen queue of 4,096. Sites are told
// apart by the Host header. The server thread's processor time is kept so that a benchmark can
// report it beside the client's.
class LatencyServer {
  public:
    // Host (the part before the first dot) and path of a request to its answer; runs on the
    // server thread.
    using Answerer = std::function<Answer(const std::string& host, const std::string& path)>;

    LatencyServer(Answerer answerer, std::chrono::milliseconds latency);
    ~LatencyServer();
    LatencyServer(const LatencyServer&) = delete;
    LatencyServer& operator=(const LatencyServer&) = delete;

    int port() const { return port_; }
    void setLatency(std::chrono::milliseconds latency) { latencyMs_ = latency.count(); }
    std::chrono::milliseconds latency() const { return std::chrono::milliseconds(latencyMs_); }

    // Requests so far, and the distinct documents (host and path) they asked for.
    long requests() const { return requests_; }
    std::size_t documents() const;
    void resetCounts();
    // Processor seconds the server thread has used so far.
    double cpuSeconds() const;

    struct Pending;  // a request waiting for its latency or its next chunk

  private:
    static void onRequest(evhttp_request* request, void* self);
    static void onTick(int, short, void* self);
    void loop();

    Answerer answerer_;
    std::atomic<long long> latencyMs_;
    event_base* base_ = nullptr;
    evhttp* http_ = nullptr;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<clockid_t> cpuClock_{0};
    std::atomic<bool> cpuClockSet_{false};
    std::thread thread_;
    mutable std::mutex lock_;
    std::set<std::string> documents_;  // guarded by lock_
    std::atomic<long> requests_{0};
};

}  // namespace perchlight::bench
