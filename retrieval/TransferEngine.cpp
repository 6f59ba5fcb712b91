#include "retrieval/TransferEngine.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace perchlight {

// A share of resolved names and connections, locked per kind of data as libcurl asks: the event
// thread runs its transfers while the group's thread starts more.
struct ConnectionGroup::Share {
    Share() : handle(curl_share_init()) {
        if (handle == nullptr) {
            return;
        }
        curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &Share::lock);
        curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &Share::unlock);
        curl_share_setopt(handle, CURLSHOPT_USERDATA, this);
        if (curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
            curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK) {
            curl_share_cleanup(handle);
            handle = nullptr;
        }
    }
    ~Share() {
        if (handle != nullptr) {
            curl_share_cleanup(handle);  // closes the connections it kept
        }
    }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Share*>(self)->locks[index(data)].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<Share*>(self)->locks[index(data)].unlock();
    }
    static std::size_t index(curl_lock_data data) {
        return std::min<std::size_t>(static_cast<std::size_t>(data), kKinds - 1);
    }

    static constexpr std::size_t kKinds = CURL_LOCK_DATA_LAST + 1;
    CURLSH* handle;
    std::array<std::mutex, kKinds> locks;
};

namespace {

using Clock = std::chrono::steady_clock;

// How long the event thread sleeps at most when nothing happens; new work wakes it at once.
constexpr int kPollMilliseconds = 1000;
// Readiness events taken from the kernel per wait.
constexpr int kEventsPerWait = 256;
// Handles kept for reuse once their transfers ended; more are cleaned up.
constexpr std::size_t kPooledHandles = 256;

struct Entry {
    std::uint64_t id = 0;
    CurlHandle handle;
    std::shared_ptr<void> keepAlive;
    TransferEngine::Finished finished;
    std::shared_ptr<ConnectionGroup::Share> share;  // released after the handle
    std::string host;                               // host name and port, for the bound per host
};

// The host name and port of the address the transfer starts from: libcurl's own reading of it.
std::string hostOf(CURL* easy) {
    char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    std::string host;
    CURLU* parsed = curl_url();
    if (parsed != nullptr && url != nullptr &&
        curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK) {
        char* name = nullptr;
        char* port = nullptr;
        if (curl_url_get(parsed, CURLUPART_HOST, &name, 0) == CURLUE_OK) {
            host = name;
        }
        if (curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            host += ":";
            host += port;
        }
        curl_free(name);
        curl_free(port);
    }
    curl_url_cleanup(parsed);
    return host;
}

thread_local ConnectionGroup* threadGroup = nullptr;

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// libcurl's socket interface over epoll: the kernel says which connections are ready, and
// libcurl works on those alone, so the cost of a turn does not grow with the transfers running.
class Engine {
  public:
    Engine() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        epoll_event wake{};
        wake.events = EPOLLIN;
        wake.data.fd = wakeFd_;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &wake);
        makeMulti();
        thread_ = std::thread([this] { loop(); });
        thread_.detach();
    }

    void makeMulti() {
        multi_.reset(curl_multi_init());
        CURLM* multi = multi_.get();
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                          TransferEngine::kMaxHostConnections);
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, TransferEngine::kMaxConnections);
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, TransferEngine::kMaxConnections);
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        timer_.reset();
    }

    std::uint64_t start(Entry entry) {
        entry.host = hostOf(entry.handle.get());
        std::uint64_t id = 0;
        ++active_;
        {
            std::lock_guard<std::mutex> guard(lock_);
            id = ++lastId_;
            entry.id = id;
            adding_.push_back(std::move(entry));
        }
        wake();
        return id;
    }

    void cancel(std::uint64_t id) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            cancelling_.push_back(id);
        }
        wake();
    }

    int active() const { return active_; }

    CurlHandle newHandle() {
        {
            std::lock_guard<std::mutex> guard(poolLock_);
            if (!pool_.empty()) {
                CurlHandle handle = std::move(pool_.back());
                pool_.pop_back();
                return handle;
            }
        }
        return CurlHandle(curl_easy_init());
    }

    bool closeIdleConnections() {
        std::unique_lock<std::mutex> guard(lock_);
        const std::uint64_t asked = ++closingAsked_;
        wake();
        closed_.wait(guard, [this, asked] { return closingDone_ >= asked; });
        return closedLast_;
    }

  private:
    void wake() {
        const std::uint64_t one = 1;
        // A full counter means a wake is pending already.
        [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
    }

    // libcurl's wish for a socket: watch it for reading, writing, both, or no longer.
    static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
        const Engine* engine = static_cast<Engine*>(self);
        if (what == CURL_POLL_REMOVE) {
            epoll_ctl(engine->epoll_, EPOLL_CTL_DEL, socket, nullptr);
            return 0;
        }
        epoll_event event{};
        event.data.fd = socket;
        event.events = ((what & CURL_POLL_IN) != 0 ? EPOLLIN : 0u) |
                       ((what & CURL_POLL_OUT) != 0 ? EPOLLOUT : 0u);
        if (epoll_ctl(engine->epoll_, EPOLL_CTL_MOD, socket, &event) != 0 && errno == ENOENT) {
            epoll_ctl(engine->epoll_, EPOLL_CTL_ADD, socket, &event);
        }
        return 0;
    }

    // libcurl's wish to be called back after a time (-1: never).
    static int onTimer(CURLM*, long milliseconds, void* self) {
        Engine* engine = static_cast<Engine*>(self);
        if (milliseconds < 0) {
            engine->timer_.reset();
        } else {
            engine->timer_ = Clock::now() + std::chrono::milliseconds(milliseconds);
        }
        return 0;
    }

    int millisecondsToWait() const {
        if (!timer_) {
            return kPollMilliseconds;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*timer_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, kPollMilliseconds));
    }

    void loop() {
        epoll_event events[kEventsPerWait];
        for (;;) {
            takeWork();
            const int count = epoll_wait(epoll_, events, kEventsPerWait, millisecondsToWait());
            int running = 0;
            for (int i = 0; i < count; ++i) {
                const int fd = events[i].data.fd;
                if (fd == wakeFd_) {
                    std::uint64_t wakes = 0;
                    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &wakes, sizeof wakes);
                    continue;
                }
                int flags = 0;
                flags |= (events[i].events & EPOLLIN) != 0 ? CURL_CSELECT_IN : 0;
                flags |= (events[i].events & EPOLLOUT) != 0 ? CURL_CSELECT_OUT : 0;
                flags |= (events[i].events & (EPOLLERR | EPOLLHUP)) != 0 ? CURL_CSELECT_ERR : 0;
                curl_multi_socket_action(multi_.get(), fd, flags, &running);
            }
            if (timer_ && Clock::now() >= *timer_) {
                timer_.reset();
                curl_multi_socket_action(multi_.get(), CURL_SOCKET_TIMEOUT, 0, &running);
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    finish(message->easy_handle, message->data.result);
                }
            }
            startWaiting();
            closeIdleWhenAsked();
        }
    }

    // A new multi handle has an empty connection cache; the old one closes what it kept. Only
    // with nothing running, so no transfer loses its connection.
    void closeIdleWhenAsked() {
        std::unique_ptr<CURLM, MultiDeleter> old;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (closingAsked_ == closingDone_) {
                return;
            }
            if (!running_.empty() || !adding_.empty() || !waiting_.empty()) {
                closedLast_ = false;
                closingDone_ = closingAsked_;
                closed_.notify_all();
                return;
            }
            old = std::move(multi_);
            makeMulti();
        }
        old.reset();
        {
            std::lock_guard<std::mutex> guard(lock_);
            closedLast_ = true;
            closingDone_ = closingAsked_;
        }
        closed_.notify_all();
    }

    // New transfers join the queue and cancelled ones leave it or the multi handle; then the
    // queue starts what the bounds allow.
    void takeWork() {
        std::vector<Entry> adding;
        std::vector<std::uint64_t> cancelling;
        {
            std::lock_guard<std::mutex> guard(lock_);
            adding.swap(adding_);
            cancelling.swap(cancelling_);
        }
        for (Entry& entry : adding) {
            const std::uint64_t id = entry.id;
            waitingIds_[id] = waiting_.insert(waiting_.end(), std::move(entry));
            queueChanged_ = true;
        }
        for (const std::uint64_t id : cancelling) {
            if (const auto queued = waitingIds_.find(id); queued != waitingIds_.end()) {
                Entry removed = std::move(*queued->second);
                waiting_.erase(queued->second);
                waitingIds_.erase(queued);
                release(std::move(removed));
                continue;
            }
            const auto found = ids_.find(id);
            if (found == ids_.end()) {
                continue;  // ended already
            }
            CURL* easy = found->second;
            ids_.erase(found);
            curl_multi_remove_handle(multi_.get(), easy);
            const auto entry = running_.find(easy);
            Entry removed = std::move(entry->second);
            running_.erase(entry);
            stopCounting(removed);
            release(std::move(removed));
        }
        startWaiting();
    }

    // Starts queued transfers in order, each once its host and the whole are under their bounds.
    void startWaiting() {
        if (!queueChanged_) {
            return;
        }
        queueChanged_ = false;
        for (auto next = waiting_.begin();
             next != waiting_.end() &&
             running_.size() < static_cast<std::size_t>(TransferEngine::kMaxConnections);) {
            long& onHost = hostRunning_[next->host];
            if (onHost >= TransferEngine::kMaxHostConnections) {
                ++next;
                continue;
            }
            Entry entry = std::move(*next);
            waitingIds_.erase(entry.id);
            next = waiting_.erase(next);
            CURL* easy = entry.handle.get();
            curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, TransferEngine::kDnsCacheSeconds);
            if (curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) {
                if (onHost == 0) {
                    hostRunning_.erase(entry.host);
                }
                entry.finished(easy, CURLE_FAILED_INIT);
                release(std::move(entry));
                continue;
            }
            ++onHost;
            ids_[entry.id] = easy;
            running_.emplace(easy, std::move(entry));
        }
    }

    // A running transfer that ends or is cancelled frees its place under the bounds.
    void stopCounting(const Entry& entry) {
        const auto host = hostRunning_.find(entry.host);
        if (host != hostRunning_.end() && --host->second <= 0) {
            hostRunning_.erase(host);
        }
        queueChanged_ = true;
    }

    void finish(CURL* easy, CURLcode result) {
        const auto entry = running_.find(easy);
        if (entry == running_.end()) {
            return;
        }
        Entry done = std::move(entry->second);
        running_.erase(entry);
        ids_.erase(done.id);
        curl_multi_remove_handle(multi_.get(), easy);
        stopCounting(done);
        done.finished(easy, result);
        release(std::move(done));
    }

    // The handle and what its callbacks wrote into go before the transfer stops counting. The
    // handle leaves the group's share before the share can go, and keeps none of its options.
    void release(Entry entry) {
        recycle(std::move(entry.handle));
        entry.share.reset();  // the group's connections close with its last transfer
        entry.keepAlive.reset();
        entry.finished = nullptr;
        --active_;
    }

    void recycle(CurlHandle handle) {
        if (!handle) {
            return;
        }
        curl_easy_setopt(handle.get(), CURLOPT_SHARE, nullptr);
        curl_easy_reset(handle.get());
        std::lock_guard<std::mutex> guard(poolLock_);
        if (pool_.size() < kPooledHandles) {
            pool_.push_back(std::move(handle));
        }
    }

    // The event thread's own; replaced by it under lock_.
    std::unique_ptr<CURLM, MultiDeleter> multi_;
    int epoll_ = -1;
    int wakeFd_ = -1;  // an eventfd: other threads wake the event thread with it
    std::optional<Clock::time_point> timer_;  // libcurl's, the event thread's own
    std::thread thread_;
    std::mutex lock_;
    std::vector<Entry> adding_;              // guarded by lock_
    std::vector<std::uint64_t> cancelling_;  // guarded by lock_
    std::uint64_t lastId_ = 0;               // guarded by lock_
    std::uint64_t closingAsked_ = 0;         // guarded by lock_
    std::uint64_t closingDone_ = 0;          // guarded by lock_
    bool closedLast_ = false;                // guarded by lock_
    std::condition_variable closed_;
    std::atomic<int> active_{0};
    std::mutex poolLock_;
    std::vector<CurlHandle> pool_;  // guarded by poolLock_
    // The event thread's own.
    std::map<CURL*, Entry> running_;
    std::map<std::uint64_t, CURL*> ids_;
    std::list<Entry> waiting_;  // started and not yet handed to libcurl, in order
    std::map<std::uint64_t, std::list<Entry>::iterator> waitingIds_;
    std::map<std::string, long> hostRunning_;  // running transfers per host, none absent
    bool queueChanged_ = false;                // a transfer joined the queue or freed a place
};

// Made on first use and never destroyed: the event thread may outlive every other object.
Engine& engine() {
    static Engine* const instance = new Engine();
    return *instance;
}

}  // namespace

std::uint64_t TransferEngine::start(CurlHandle handle, std::shared_ptr<void> keepAlive,
                                    Finished finished) {
    Entry entry{0, std::move(handle), std::move(keepAlive), std::move(finished), nullptr, {}};
    if (threadGroup != nullptr && threadGroup->share() && entry.handle) {
        entry.share = threadGroup->share();
        curl_easy_setopt(entry.handle.get(), CURLOPT_SHARE, entry.share->handle);
    }
    return engine().start(std::move(entry));
}

CurlHandle TransferEngine::newHandle() {
    return engine().newHandle();
}

void TransferEngine::cancel(std::uint64_t id) {
    engine().cancel(id);
}

int TransferEngine::active() {
    return engine().active();
}

bool TransferEngine::closeIdleConnections() {
    return engine().closeIdleConnections();
}

ConnectionGroup::ConnectionGroup() {
    engine();  // libcurl's global state first
    auto share = std::make_shared<Share>();
    if (share->handle != nullptr) {
        share_ = std::move(share);
    }
}

ConnectionGroup::~ConnectionGroup() = default;

ConnectionGroup::Scope::Scope(ConnectionGroup& group) : previous_(threadGroup) {
    threadGroup = &group;
}

ConnectionGroup::Scope::~Scope() {
    threadGroup = previous_;
}

}  // namespace perchlight
