#include "cli/SurveyRunner.h"

#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include "cli/SurveyCheck.h"
#include "cli/WorkerPool.h"
#include "retrieval/TransferEngine.h"

namespace perchlight::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The progress line is redrawn at most this often.
constexpr std::chrono::milliseconds kProgressInterval{200};

std::string clockText(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

// The progress line: redrawn in place, at most every kProgressInterval, and ended by the last.
// Used under the runner's lock.
class Progress {
  public:
    Progress(std::ostream* stream, std::size_t total) : stream_(stream), total_(total) {}

    void add(const SurveyRecord& record) {
        ++done_;
        ++verdicts_[record.verdict];
        draw(false);
    }

    void draw(bool last) {
        if (stream_ == nullptr) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (!last && now - drawn_ < kProgressInterval) {
            return;
        }
        drawn_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
        *stream_ << "\r" << done_ << "/" << total_ << "  ";
        char rateText[32];
        std::snprintf(rateText, sizeof rateText, "%.1f", rate);
        *stream_ << rateText << " sites/s  matched " << verdicts_["matched"] << "  unmatched "
                 << verdicts_["unmatched"] << "  partly " << verdicts_["partly matched"]
                 << "  unknown " << verdicts_["unknown"] << "  left "
                 << (rate > 0 ? clockText(static_cast<double>(total_ - done_) / rate) : "?")
                 << "\033[K";
        if (last) {
            *stream_ << "\n";
        }
        stream_->flush();
    }

  private:
    std::ostream* stream_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::map<std::string, std::size_t> verdicts_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point drawn_{};
};

}  // namespace

std::size_t SurveyRunner::raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;  // the usual soft limit
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<std::size_t>(limit.rlim_cur);
}

std::size_t SurveyRunner::defaultJobs(std::size_t descriptorLimit) {
    const std::size_t spare =
        descriptorLimit > kReservedDescriptors ? descriptorLimit - kReservedDescriptors : 0;
    return std::clamp<std::size_t>(spare / kDescriptorsPerCheck, 1, kMaxDefaultJobs);
}

std::vector<SurveyRecord> SurveyRunner::run(const std::vector<std::string>& addresses) {
    if (addresses.empty()) {
        return {};
    }
    std::mutex lock;
    std::condition_variable allEnded;
    std::size_t next = 0;
    std::vector<SurveyRecord> written;
    Progress progress(progress_, addresses.size());
    const SurveyCheck check(services_, options_.timeLimit);
    // Writes the record, whole and flushed; true when it was the survey's last.
    const auto write = [&](SurveyRecord record) {
        std::string line = options_.csv ? toCsvLine(record) : toJsonLine(record);
        line += '\n';
        std::lock_guard<std::mutex> guard(lock);
        records_ << line;
        records_.flush();
        progress.add(record);
        written.push_back(std::move(record));
        return written.size() == addresses.size();
    };
    const std::size_t jobs = std::clamp<std::size_t>(options_.jobs, 1, addresses.size());
    std::optional<WorkerPool> pool;
    try {
        pool.emplace(0, jobs);
    } catch (const std::system_error&) {
        // Not a thread to spare: the checks run here, one after the other.
        for (const std::string& address : addresses) {
            write(check.run(address));
        }
    }
    if (pool) {
        const SurveyCheck::Post post = [&pool](std::function<void()> task) {
            pool->post(std::move(task));
        };
        // At most jobs sites are under way at once; each that ends starts the next.
        std::function<void(SurveyRecord)> ended;
        const auto startNext = [&] {
            std::string address;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (next >= addresses.size()) {
                    return;
                }
                address = addresses[next++];
            }
            check.start(address, post, ended);
        };
        ended = [&](SurveyRecord record) {
            if (write(std::move(record))) {
                allEnded.notify_all();
            } else {
                startNext();
            }
        };
        for (std::size_t i = 0; i < jobs; ++i) {
            startNext();
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            allEnded.wait(guard, [&] { return written.size() == addresses.size(); });
        }
        pool.reset();
    }
    // The connections kept for reuse end with the survey.
    TransferEngine::closeIdleConnections();
    progress.draw(true);
    return written;
}

}  // namespace perchlight::cli
