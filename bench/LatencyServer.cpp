#include "LatencyServer.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/listener.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include <stdexcept>

namespace perchlight::bench {
namespace {

constexpr int kListenQueue = 4096;
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kHugeBytes = 200u * 1024 * 1024;
// How often the server thread looks whether it is to stop.
constexpr timeval kTick{0, 50 * 1000};

timeval after(std::chrono::milliseconds delay) {
    return {static_cast<time_t>(delay.count() / 1000),
            static_cast<suseconds_t>(delay.count() % 1000 * 1000)};
}

}  // namespace

// Lives from the request until its answer is sent or its connection has closed.
struct LatencyServer::Pending {
    LatencyServer* server = nullptr;
    ::evhttp_request* request = nullptr;
    Answer answer;
    std::size_t sent = 0;
    bool closed = false;
    bool stalled = false;
    event* timer = nullptr;

    ~Pending() {
        if (timer != nullptr) {
            event_free(timer);
        }
    }

    // A stalled request has no timer left to notice that it is gone.
    static void onClose(evhttp_connection*, void* self) {
        Pending* pending = static_cast<Pending*>(self);
        pending->closed = true;
        if (pending->stalled) {
            delete pending;
        }
    }

    // Every pending answer watches its connection: once it has closed, the request is gone.
    void watchConnection() {
        evhttp_connection_set_closecb(evhttp_request_get_connection(request), onClose, this);
    }

    void forgetConnection() {
        if (!closed) {
            evhttp_connection_set_closecb(evhttp_request_get_connection(request), nullptr, nullptr);
        }
    }

    void schedule(std::chrono::milliseconds delay) {
        const timeval wait = after(delay);
        evtimer_add(timer, &wait);
    }

    static void onTimer(int, short, void* self) {
        Pending* pending = static_cast<Pending*>(self);
        if (pending->step()) {
            delete pending;
        }
    }

    // True once the answer is done with.
    bool step() {
        if (closed) {
            return true;
        }
        evkeyvalq* headers = evhttp_request_get_output_headers(request);
        switch (answer.kind) {
            case Answer::Kind::kStall:
                stalled = true;  // the request waits until the client gives up
                return false;
            case Answer::Kind::kReset: {
                forgetConnection();
                evhttp_connection* connection = evhttp_request_get_connection(request);
                const int fd = bufferevent_getfd(evhttp_connection_get_bufferevent(connection));
                const linger reset{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                evhttp_connection_free(connection);
                return true;
            }
            case Answer::Kind::kWhole: {
                evhttp_add_header(headers, "Content-Type", answer.contentType.c_str());
                for (const auto& [name, value] : answer.headers) {
                    evhttp_add_header(headers, name.c_str(), value.c_str());
                }
                forgetConnection();
                evbuffer* body = evbuffer_new();
                evbuffer_add(body, answer.body.data(), answer.body.size());
                evhttp_send_reply(request, answer.status, "OK", body);
                evbuffer_free(body);
                return true;
            }
            case Answer::Kind::kDrip:
            case Answer::Kind::kHuge:
                break;
        }
        const bool drip = answer.kind == Answer::Kind::kDrip;
        if (sent == 0) {
            evhttp_add_header(headers, "Content-Type", "text/xml");
            evhttp_send_reply_start(request, 200, "OK");
        }
        if (!drip && sent >= kHugeBytes) {
            forgetConnection();
            evhttp_send_reply_end(request);
            return true;
        }
        evbuffer* chunk = evbuffer_new();
        const std::size_t bytes = drip ? 1 : kChunkBytes;
        const std::string text(bytes, drip ? ' ' : 'x');
        evbuffer_add(chunk, text.data(), text.size());
        sent += bytes;
        evhttp_send_reply_chunk(request, chunk);
        evbuffer_free(chunk);
        // A huge body is paced by the connection's output buffer, drained as the client reads.
        if (drip) {
            schedule(std::chrono::milliseconds(1000));
        } else {
            evbuffer* output = bufferevent_get_output(
                evhttp_connection_get_bufferevent(evhttp_request_get_connection(request)));
            schedule(std::chrono::milliseconds(evbuffer_get_length(output) > 4 * kChunkBytes));
        }
        return false;
    }
};

LatencyServer::LatencyServer(Answerer answerer, std::chrono::milliseconds latency)
    : answerer_(std::move(answerer)), latencyMs_(latency.count()) {
    base_ = event_base_new();
    http_ = evhttp_new(base_);
    if (base_ == nullptr || http_ == nullptr) {
        throw std::runtime_error("no event base for the benchmark's server");
    }
    evhttp_set_gencb(http_, onRequest, this);
    evhttp_set_timeout(http_, 120);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    evconnlistener* listener = evconnlistener_new_bind(
        base_, nullptr, nullptr, LEV_OPT_REUSEABLE | LEV_OPT_CLOSE_ON_FREE, kListenQueue,
        reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (listener == nullptr || evhttp_bind_listener(http_, listener) == nullptr) {
        throw std::runtime_error("the benchmark's server cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(evconnlistener_get_fd(listener), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { loop(); });
    while (!cpuClockSet_) {
        std::this_thread::yield();
    }
}

LatencyServer::~LatencyServer() {
    stopping_ = true;
    thread_.join();
    evhttp_free(http_);
    event_base_free(base_);
}

void LatencyServer::loop() {
    clockid_t clock{};
    pthread_getcpuclockid(pthread_self(), &clock);
    cpuClock_ = clock;
    cpuClockSet_ = true;
    event* tick = event_new(base_, -1, EV_PERSIST, onTick, this);
    event_add(tick, &kTick);
    event_base_dispatch(base_);
    event_free(tick);
}

void LatencyServer::onTick(int, short, void* self) {
    LatencyServer* server = static_cast<LatencyServer*>(self);
    if (server->stopping_) {
        event_base_loopbreak(server->base_);
    }
}

void LatencyServer::onRequest(evhttp_request* request, void* self) {
    LatencyServer* server = static_cast<LatencyServer*>(self);
    const char* hostHeader = evhttp_find_header(evhttp_request_get_input_headers(request), "Host");
    std::string host = hostHeader != nullptr ? hostHeader : "";
    host = host.substr(0, host.find('.'));
    const char* pathText = evhttp_uri_get_path(evhttp_request_get_evhttp_uri(request));
    const std::string path = pathText != nullptr ? pathText : "/";
    {
        std::lock_guard guard(server->lock_);
        server->documents_.insert(host + path);
    }
    ++server->requests_;
    Pending* pending = new Pending{server, request, server->answerer_(host, path)};
    pending->timer = evtimer_new(server->base_, Pending::onTimer, pending);
    pending->watchConnection();
    pending->schedule(server->latency());
}

std::size_t LatencyServer::documents() const {
    std::lock_guard guard(lock_);
    return documents_.size();
}

void LatencyServer::resetCounts() {
    std::lock_guard guard(lock_);
    documents_.clear();
    requests_ = 0;
}

double LatencyServer::cpuSeconds() const {
    timespec time{};
    clock_gettime(cpuClock_.load(), &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

}  // namespace perchlight::bench
