#include "retrieval/TransferEngine.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace perchlight {
namespace {

// How long the event thread sleeps at most when nothing happens; new work wakes it at once.
constexpr int kPollMilliseconds = 1000;

struct Entry {
    std::uint64_t id = 0;
    CurlHandle handle;
    std::shared_ptr<void> keepAlive;
    TransferEngine::Finished finished;
};

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

class Engine {
  public:
    Engine() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        makeMulti();
        thread_ = std::thread([this] { loop(); });
        thread_.detach();
    }

    void makeMulti() {
        multi_.reset(curl_multi_init());
        curl_multi_setopt(multi_.get(), CURLMOPT_MAX_HOST_CONNECTIONS,
                          TransferEngine::kMaxHostConnections);
        curl_multi_setopt(multi_.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS,
                          TransferEngine::kMaxConnections);
        curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, TransferEngine::kMaxConnections);
    }

    std::uint64_t start(Entry entry) {
        std::uint64_t id = 0;
        ++active_;
        {
            std::lock_guard<std::mutex> guard(lock_);
            id = ++lastId_;
            entry.id = id;
            adding_.push_back(std::move(entry));
            curl_multi_wakeup(multi_.get());
        }
        return id;
    }

    void cancel(std::uint64_t id) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            cancelling_.push_back(id);
            curl_multi_wakeup(multi_.get());
        }
    }

    int active() const { return active_; }

    bool closeIdleConnections() {
        std::unique_lock<std::mutex> guard(lock_);
        const std::uint64_t asked = ++closingAsked_;
        curl_multi_wakeup(multi_.get());
        closed_.wait(guard, [this, asked] { return closingDone_ >= asked; });
        return closedLast_;
    }

  private:
    void loop() {
        for (;;) {
            takeWork();
            int running = 0;
            curl_multi_perform(multi_.get(), &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    finish(message->easy_handle, message->data.result);
                }
            }
            closeIdleWhenAsked();
            curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
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
            if (!running_.empty() || !adding_.empty()) {
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

    void takeWork() {
        std::vector<Entry> adding;
        std::vector<std::uint64_t> cancelling;
        {
            std::lock_guard<std::mutex> guard(lock_);
            adding.swap(adding_);
            cancelling.swap(cancelling_);
        }
        for (Entry& entry : adding) {
            CURL* easy = entry.handle.get();
            if (curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) {
                entry.finished(easy, CURLE_FAILED_INIT);
                release(std::move(entry));
                continue;
            }
            ids_[entry.id] = easy;
            running_.emplace(easy, std::move(entry));
        }
        for (const std::uint64_t id : cancelling) {
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
            release(std::move(removed));
        }
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
        done.finished(easy, result);
        release(std::move(done));
    }

    // The handle and what its callbacks wrote into go before the transfer stops counting.
    void release(Entry entry) {
        entry.handle.reset();
        entry.keepAlive.reset();
        entry.finished = nullptr;
        --active_;
    }

    // Replaced only by the event thread and under lock_; other threads use it under lock_.
    std::unique_ptr<CURLM, MultiDeleter> multi_;
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
    // The event thread's own.
    std::map<CURL*, Entry> running_;
    std::map<std::uint64_t, CURL*> ids_;
};

// Made on first use and never destroyed: the event thread may outlive every other object.
Engine& engine() {
    static Engine* const instance = new Engine();
    return *instance;
}

}  // namespace

std::uint64_t TransferEngine::start(CurlHandle handle, std::shared_ptr<void> keepAlive,
                                    Finished finished) {
    return engine().start(Entry{0, std::move(handle), std::move(keepAlive), std::move(finished)});
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

}  // namespace perchlight
