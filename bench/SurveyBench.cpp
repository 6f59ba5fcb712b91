// The network's share of a check: a loopback server that answers every request after a fixed
// latency, so that wall time divided by the latency counts round trips. Measures a cold check of
// a page with items from ten sites with and without the prefetch, and a survey of 1,000 sites by
// the command-line tool (sites per second, peak resident size, requests against documents).
// Sites are host names under "localhost", which libcurl resolves to 127.0.0.1 itself; one server
// tells them apart by the Host header.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PageCheck.h"
#include "util/HeapRetention.h"

namespace {

namespace fs = std::filesystem;
using namespace perchlight;
using Clock = std::chrono::steady_clock;

// SURVEY_LATENCY_MS, SURVEY_SITES and SURVEY_JOBS (0: the survey's own default) change the
// survey's run; the cold check always runs at 50 ms.
std::atomic<long long> latencyMilliseconds{50};
std::chrono::milliseconds latency() {
    return std::chrono::milliseconds(latencyMilliseconds.load());
}
constexpr int kItemSites = 10;
int kSurveySites = 1000;
constexpr int kSharedPolicies = 10;
constexpr int kRepetitions = 3;

// Every host under "localhost" is a site: "page" serves a page with one image from each item
// site "i0" ... "i9"; "sN" serves a survey page with an image from "cdn", and its reference file
// names one of ten policies on "policies"; every other site covers itself with its own policy.
// httplib's compiled library listens with a queue of 5 pending connections, so a burst of
// connects waits for the kernel's one-second SYN retry and the benchmark would measure that
// instead of the round trips. Listening again on the same socket deepens its queue.
void deepenListenQueue(int port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int listening = 0;
        socklen_t flagLength = sizeof listening;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagLength) == 0 && listening) {
            listen(fd, 4096);
        }
    }
}

class LatencySites {
  public:
    LatencySites() {
        policy_ = bench::readFile(fs::path(PERCHLIGHT_DATA_DIR) / "examples" / "shop-basic.xml");
        // A thread per request in flight, so the server keeps up with a survey's own default.
        server_.new_task_queue = [] { return new httplib::ThreadPool(2100); };
        server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::this_thread::sleep_for(latency());
            answer(request, response);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        deepenListenQueue(port_);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~LatencySites() {
        server_.stop();
        thread_.join();
    }

    std::string url(const std::string& host, const std::string& path) const {
        return "http://" + host + ".localhost:" + std::to_string(port_) + path;
    }

    // Requests so far, and the distinct documents they asked for.
    long requests() const { return requests_; }
    std::size_t documents() {
        std::lock_guard guard(lock_);
        return documents_.size();
    }
    void resetCounts() {
        std::lock_guard guard(lock_);
        documents_.clear();
        requests_ = 0;
    }

  private:
    void answer(const httplib::Request& request, httplib::Response& response) {
        std::string host = request.get_header_value("Host");
        host = host.substr(0, host.find('.'));
        {
            std::lock_guard guard(lock_);
            documents_.insert(host + request.path);
        }
        ++requests_;
        if (request.path == "/index.html") {
            response.set_content(page(host), "text/html");
        } else if (request.path == "/w3c/p3p.xml") {
            response.set_content(references(host), "text/xml");
        } else if (request.path.ends_with(".xml")) {
            response.set_content(policy_, "text/xml");
        } else {
            response.status = 404;
        }
    }

    std::string page(const std::string& host) const {
        std::string html = "<html><body><p>A page of the benchmark.</p>\n";
        if (host == "page") {
            for (int i = 0; i < kItemSites; ++i) {
                html += "<img src='" + url("i" + std::to_string(i), "/logo.png") + "'>\n";
            }
        } else {
            html += "<img src='" + url("cdn", "/logo.png") + "'>\n";
        }
        return html + "</body></html>\n";
    }

    std::string references(const std::string& host) const {
        std::string about = "/w3c/policy.xml#basic";
        if (host.size() > 1 && host[0] == 's' &&
            std::isdigit(static_cast<unsigned char>(host[1]))) {
            const int site = std::atoi(host.c_str() + 1);
            about = url("policies", "/p" + std::to_string(site % kSharedPolicies) + ".xml#basic");
        }
        return "<META><POLICY-REFERENCES><POLICY-REF about='" + about +
               "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::string policy_;
    std::mutex lock_;
    std::set<std::string> documents_;
    std::atomic<long> requests_{0};
};

class Owner : public HeadlessOwner {
  public:
    Owner(P3PMatchInfo& info, bool prefetch) : HeadlessOwner(info), prefetch_(prefetch) {}
    bool prefetches() const override { return prefetch_; }

  private:
    bool prefetch_;
};

// A cold check (empty cache and store) of the page with ten item sites, page load included:
// the fastest of the repetitions, in round trips; and its requests.
std::pair<double, long> coldCheck(LatencySites& sites, AgentServices& services, bool prefetch) {
    double best = 1e9;
    long requests = 0;
    const Url page(sites.url("page", "/index.html"));
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        services.cache().clearCache();
        sites.resetCounts();
        P3PMatchInfo info(services.referenceStore(), services.cache());
        Owner owner(info, prefetch);
        const Clock::time_point start = Clock::now();
        owner.loadPage(page, false);
        std::thread check(runCheckThread, std::ref(owner), page, "");
        check.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (owner.verdict() != kVerdictMatched) {
            std::printf("  the page did not match (verdict %d)\n", owner.verdict());
        }
        best = std::min(best, seconds / std::chrono::duration<double>(latency()).count());
        requests = sites.requests();
    }
    return {best, requests};
}

struct ToolRun {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = -1;
};

// Runs the tool to its end: wall and processor seconds, peak resident KiB.
ToolRun runTool(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(stdout);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto cpu = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return {seconds, cpu(usage.ru_utime) + cpu(usage.ru_stime),
            WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1};
}

void survey(LatencySites& sites, const fs::path& home, int jobs) {
    const fs::path list = home / "sites.txt";
    {
        std::ofstream out(list);
        for (int i = 0; i < kSurveySites; ++i) {
            out << sites.url("s" + std::to_string(i), "/index.html") << "\n";
        }
    }
    const fs::path records = home / "survey.jsonl";
    fs::remove_all(home / "cache");
    sites.resetCounts();
    std::vector<std::string> command{PERCHLIGHT_PROGRAM, "survey",  list.string(), "--out",
                                     records.string(),   "--level", "medium"};
    if (jobs != 0) {
        command.push_back("--jobs");
        command.push_back(std::to_string(jobs));
    }
    rusage serverBefore{};
    getrusage(RUSAGE_SELF, &serverBefore);
    const auto [seconds, cpuSeconds, peak] = runTool(command);
    rusage serverAfter{};
    getrusage(RUSAGE_SELF, &serverAfter);
    const auto cpu = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    const double serverSeconds = cpu(serverAfter.ru_utime) + cpu(serverAfter.ru_stime) -
                                 cpu(serverBefore.ru_utime) - cpu(serverBefore.ru_stime);
    std::ifstream in(records);
    long lines = 0;
    long matched = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        matched += line.find("\"verdict\":\"matched\"") != std::string::npos;
    }
    std::printf(
        "  --jobs %-4s %6.2f s  %5.0f sites/s  cpu %4.2f ms/site (server %4.2f)  peak %5.1f MiB  "
        "requests %ld for %zu documents  records %ld (%ld matched)\n",
        jobs != 0 ? std::to_string(jobs).c_str() : "def", seconds, kSurveySites / seconds,
        cpuSeconds * 1000 / kSurveySites, serverSeconds * 1000 / kSurveySites, peak / 1024.0,
        sites.requests(), sites.documents(), lines, matched);
}

fs::path makeHome() {
    char pattern[] = "/tmp/perchlight-bench-XXXXXX";
    const fs::path home = mkdtemp(pattern);
    for (const auto& entry : fs::directory_iterator(PERCHLIGHT_DATA_DIR)) {
        if (entry.path().extension() == ".xml") {
            fs::copy_file(entry.path(), home / entry.path().filename());
        }
    }
    return home;
}

}  // namespace

int main() {
    perchlight::retainFreedHeap();  // as the headless tool does
    if (const char* sites = std::getenv("SURVEY_SITES")) {
        kSurveySites = std::atoi(sites);
    }
    const fs::path home = makeHome();
    setenv("PERCHLIGHT_HOME", home.c_str(), 1);
    LatencySites sites;
    {
        AgentServices services(home.string());
        services.setRuleSetFile((home / "appel-medium.xml").string());
        std::printf(
            "Cold check of a page with %d items from %d sites, %lld ms per answer "
            "(page load included; fastest of %d):\n",
            kItemSites, kItemSites, static_cast<long long>(latency().count()), kRepetitions);
        const auto [before, requestsBefore] = coldCheck(sites, services, false);
        const auto [after, requestsAfter] = coldCheck(sites, services, true);
        std::printf("  one after the other  %5.1f round trips  %ld requests\n", before,
                    requestsBefore);
        std::printf("  with the prefetch    %5.1f round trips  %ld requests\n", after,
                    requestsAfter);
    }
    if (const char* value = std::getenv("SURVEY_LATENCY_MS")) {
        latencyMilliseconds = std::atoi(value);
    }
    std::printf(
        "\nSurvey of %d sites (%d shared policies, one shared item site), %lld ms per "
        "answer, fresh cache:\n",
        kSurveySites, kSharedPolicies, static_cast<long long>(latency().count()));
    const char* only = std::getenv("SURVEY_JOBS");
    for (int jobs : only ? std::vector<int>{std::atoi(only)} : std::vector<int>{0, 64}) {
        survey(sites, home, jobs);
    }
    if (!std::getenv("SURVEY_KEEP")) {
        fs::remove_all(home);
    }
    return 0;
}
