// The network's share of a check: a loopback server that answers every request after a fixed
// latency, so that wall time divided by the latency counts round trips. Measures a cold check of
// a page with items from ten sites with and without the prefetch, and surveys of 1,000 sites by
// the command-line tool, sites that share an item site and ten policies and sites that each
// cover themselves (sites per second, peak resident size, requests against documents).
// Sites are host names under "localhost", which libcurl resolves to 127.0.0.1 itself; one server
// tells them apart by the Host header.
#include <sys/resource.h>
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
#include "LatencyServer.h"
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
// survey's run; the cold check always runs at 50 ms. SURVEY_HOSTILE=N surveys N hostile sites
// instead of the benchmark's own. SURVEY_PROGRAM runs another build of the tool (an older one,
// to compare within one run).
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
// A mixed site "mN" has a page with no items and covers itself: with a policy that matches the
// Medium level when N modulo 5 is 0, 1 or 2, with one that conflicts with it when it is 3, and
// with none (its well-known location answers 404) when it is 4.
// What each hostile site "hN" does: kind N modulo kHostileKinds.
enum class Hostile {
    kStalledPage,        // the page never answers
    kDrippingWellKnown,  // the well-known location drips one byte a second
    kHugeWellKnown,      // a 200 MB well-known file
    kRedirectLoop,       // the page redirects to itself
    kReset,              // the page's connection is reset
    kGarbage,            // binary garbage at the well-known location
    kTestPolicy,         // a policy marked TEST
    kBrokenPolicy,       // a policy cut in half
    kServerError,        // the page answers HTTP 500
};
constexpr int kHostileKinds = 9;
const char* const kHostileNames[kHostileKinds] = {
    "stalled page",       "dripping well-known", "200 MB well-known", "redirect loop", "reset",
    "garbage well-known", "TEST policy",         "broken policy",     "HTTP 500"};

class LatencySites {
  public:
    LatencySites()
        : policy_(bench::readFile(fs::path(PERCHLIGHT_DATA_DIR) / "examples" / "shop-basic.xml")),
          conflicting_(
              bench::readFile(fs::path(PERCHLIGHT_DATA_DIR) / "examples" / "marketing.xml")),
          server_([this](const std::string& host,
                         const std::string& path) { return answer(host, path); },
                  std::chrono::milliseconds(latencyMilliseconds.load())) {}

    std::string url(const std::string& host, const std::string& path) const {
        return "http://" + host + ".localhost:" + std::to_string(server_.port()) + path;
    }

    bench::LatencyServer& server() { return server_; }
    long requests() const { return server_.requests(); }
    std::size_t documents() const { return server_.documents(); }
    void resetCounts() { server_.resetCounts(); }

  private:
    bench::Answer answer(const std::string& host, const std::string& path) const {
        bench::Answer answer;
        if (host.size() > 1 && host[0] == 'h' &&
            std::isdigit(static_cast<unsigned char>(host[1]))) {
            return hostile(static_cast<Hostile>(std::atoi(host.c_str() + 1) % kHostileKinds), host,
                           path);
        }
        if (host.size() > 1 && host[0] == 'm' &&
            std::isdigit(static_cast<unsigned char>(host[1]))) {
            return mixed(std::atoi(host.c_str() + 1) % 5, path);
        }
        if (path == "/index.html") {
            answer.body = page(host);
        } else if (path == "/w3c/p3p.xml") {
            answer.contentType = "text/xml";
            answer.body = references(host);
        } else if (path.ends_with(".xml")) {
            answer.contentType = "text/xml";
            answer.body = policy_;
        } else {
            answer.status = 404;
        }
        return answer;
    }

    bench::Answer mixed(int kind, const std::string& path) const {
        bench::Answer answer;
        const bool conflicts = kind == 3;
        if (path == "/index.html") {
            answer.body = "<html><body><p>A site of the benchmark.</p></body></html>\n";
        } else if (path == "/w3c/p3p.xml" && kind != 4) {
            answer.contentType = "text/xml";
            answer.body =
                std::string("<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#") +
                (conflicts ? "retail" : "basic") +
                "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
        } else if (path == "/w3c/policy.xml" && kind != 4) {
            answer.contentType = "text/xml";
            answer.body = conflicts ? conflicting_ : policy_;
        } else {
            answer.status = 404;
        }
        return answer;
    }

    // A hostile site answers after the latency like every other, in its own way.
    bench::Answer hostile(Hostile kind, const std::string& host, const std::string& path) const {
        bench::Answer answer;
        answer.contentType = "text/xml";
        if (path == "/index.html") {
            answer.contentType = "text/html";
            answer.body = "<html><body><p>A hostile site.</p></body></html>\n";
            if (kind == Hostile::kStalledPage) {
                answer.kind = bench::Answer::Kind::kStall;
            } else if (kind == Hostile::kRedirectLoop) {
                answer.status = 302;
                answer.headers.emplace_back("Location", url(host, "/index.html"));
            } else if (kind == Hostile::kReset) {
                answer.kind = bench::Answer::Kind::kReset;
            } else if (kind == Hostile::kServerError) {
                answer.status = 500;
            }
        } else if (path == "/w3c/p3p.xml") {
            answer.body =
                "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#basic'>"
                "<INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
            if (kind == Hostile::kDrippingWellKnown) {
                answer.kind = bench::Answer::Kind::kDrip;
            } else if (kind == Hostile::kHugeWellKnown) {
                answer.kind = bench::Answer::Kind::kHuge;
            } else if (kind == Hostile::kGarbage) {
                answer.body = std::string("\x00\xff<META\x01>", 10) + std::string(500, '\x7f');
            }
        } else if (path == "/w3c/policy.xml") {
            if (kind == Hostile::kTestPolicy) {
                std::string test = policy_;
                const std::size_t open = test.find('>', test.find("<POLICY "));
                answer.body = test.insert(open + 1, "<TEST/>");
            } else if (kind == Hostile::kBrokenPolicy) {
                answer.body = policy_.substr(0, policy_.size() / 2);
            } else {
                answer.body = policy_;
            }
        } else {
            answer.status = 404;
        }
        return answer;
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

    std::string policy_;
    std::string conflicting_;
    bench::LatencyServer server_;
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

std::string program() {
    const char* other = std::getenv("SURVEY_PROGRAM");
    return other != nullptr ? other : PERCHLIGHT_PROGRAM;
}

struct ToolRun {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = -1;
    long peakThreads = 0;
};

// The threads the process has now, 0 once it is gone.
long threadsOf(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::atol(line.c_str() + 8);
        }
    }
    return 0;
}

// Runs the tool to its end: wall and processor seconds, peak resident KiB, and the most threads
// it had at once (looked at every 2 ms).
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
    std::atomic<bool> ended{false};
    long peakThreads = 0;
    std::thread counter([&] {
        while (!ended) {
            peakThreads = std::max(peakThreads, threadsOf(child));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ended = true;
    counter.join();
    const auto cpu = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return {seconds, cpu(usage.ru_utime) + cpu(usage.ru_stime),
            WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1, peakThreads};
}

// Writes the list of sites prefix0 ... prefix(count-1) under home and readies a fresh survey of
// them: no cache, the server's counts reset. The list's path.
fs::path prepareSurvey(LatencySites& sites, const fs::path& home, const std::string& prefix,
                       int count) {
    const fs::path list = home / (prefix + "-sites.txt");
    {
        std::ofstream out(list);
        for (int i = 0; i < count; ++i) {
            out << sites.url(prefix + std::to_string(i), "/index.html") << "\n";
        }
    }
    fs::remove_all(home / "cache");
    sites.resetCounts();
    return list;
}

// The value of a record's string field, empty when the line has none.
std::string stringField(const std::string& line, const std::string& name) {
    const std::size_t at = line.find("\"" + name + "\":\"");
    if (at == std::string::npos) {
        return std::string();
    }
    const std::size_t start = at + name.size() + 4;
    return line.substr(start, line.find('"', start) - start);
}

// A survey of the sites prefix0 ... by the tool with default options or the given --jobs.
void survey(LatencySites& sites, const fs::path& home, const std::string& prefix, int jobs) {
    const fs::path list = prepareSurvey(sites, home, prefix, kSurveySites);
    const fs::path records = home / "survey.jsonl";
    std::vector<std::string> command{program(),        "survey",  list.string(), "--out",
                                     records.string(), "--level", "medium"};
    if (jobs != 0) {
        command.push_back("--jobs");
        command.push_back(std::to_string(jobs));
    }
    const double serverBefore = sites.server().cpuSeconds();
    const auto [seconds, cpuSeconds, peak, threads] = runTool(command);
    const double serverSeconds = sites.server().cpuSeconds() - serverBefore;
    std::ifstream in(records);
    long lines = 0;
    std::map<std::string, long> verdicts;
    for (std::string line; std::getline(in, line); ++lines) {
        ++verdicts[stringField(line, "verdict")];
    }
    std::string tally;
    for (const auto& [verdict, count] : verdicts) {
        tally += (tally.empty() ? "" : ", ") + std::to_string(count) + " " + verdict;
    }
    std::printf(
        "  --jobs %-4s %6.2f s  %5.0f sites/s  cpu %4.2f ms/site (server %4.2f)  peak %5.1f MiB  "
        "%ld threads  requests %ld for %zu documents  records %ld (%s)\n",
        jobs != 0 ? std::to_string(jobs).c_str() : "def", seconds, kSurveySites / seconds,
        cpuSeconds * 1000 / kSurveySites, serverSeconds * 1000 / kSurveySites, peak / 1024.0,
        threads, sites.requests(), sites.documents(), lines, tally.c_str());
}

// A survey of hostile sites with a time-out of five seconds: each recorded once, with its error
// class; the wall time, peak memory and what each kind was recorded as.
void hostileSurvey(LatencySites& sites, const fs::path& home, int count) {
    const fs::path list = prepareSurvey(sites, home, "h", count);
    const fs::path records = home / "hostile.jsonl";
    const double serverBefore = sites.server().cpuSeconds();
    const auto [seconds, cpuSeconds, peak, threads] =
        runTool({program(), "survey", list.string(), "--out", records.string(), "--level", "medium",
                 "--timeout", "5"});
    const double serverSeconds = sites.server().cpuSeconds() - serverBefore;
    std::map<std::string, std::map<std::string, int>> outcomes;  // kind -> verdict/error -> sites
    std::map<std::string, int> seen;
    std::ifstream in(records);
    for (std::string line; std::getline(in, line);) {
        const auto field = [&line](const std::string& name) { return stringField(line, name); };
        const std::string url = field("url");
        ++seen[url];
        const std::size_t h = url.find("//h") + 3;
        const int kind = std::atoi(url.c_str() + h) % kHostileKinds;
        outcomes[kHostileNames[kind]][field("verdict") + " / " + field("error")]++;
    }
    int once = 0;
    for (const auto& [url, times] : seen) {
        once += times == 1;
    }
    std::printf(
        "  %d hostile sites, --timeout 5: %.2f s wall, cpu %.2f s (server %.2f s), peak %.1f MiB, "
        "%ld threads, %zu sites recorded, %d of them once\n",
        count, seconds, cpuSeconds, serverSeconds, peak / 1024.0, threads, seen.size(), once);
    for (const auto& [kind, counts] : outcomes) {
        std::printf("    %-20s", kind.c_str());
        for (const auto& [outcome, sitesWith] : counts) {
            std::printf("  %s: %d", outcome.c_str(), sitesWith);
        }
        std::printf("\n");
    }
}

// Under TMPDIR when it is set, so that the cache's file system can be chosen.
fs::path makeHome() {
    std::string pattern = (fs::temp_directory_path() / "perchlight-bench-XXXXXX").string();
    const fs::path home = mkdtemp(pattern.data());
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
        sites.server().setLatency(latency());
    }
    std::printf(
        "\nSurvey of %d sites (%d shared policies, one shared item site), %lld ms per "
        "answer, fresh cache:\n",
        kSurveySites, kSharedPolicies, static_cast<long long>(latency().count()));
    if (const char* hostile = std::getenv("SURVEY_HOSTILE")) {
        std::printf("\nHostile sites, %lld ms per answer:\n",
                    static_cast<long long>(latency().count()));
        hostileSurvey(sites, home, std::atoi(hostile));
        if (!std::getenv("SURVEY_KEEP")) {
            fs::remove_all(home);
        }
        return 0;
    }
    const char* only = std::getenv("SURVEY_JOBS");
    const std::vector<int> jobs =
        only ? std::vector<int>{std::atoi(only)} : std::vector<int>{0, 64};
    for (int cap : jobs) {
        survey(sites, home, "s", cap);
    }
    std::printf(
        "\nSurvey of %d sites, each its own policy (3 in 5 match, 1 conflicts, 1 has none), %lld "
        "ms per answer, fresh cache:\n",
        kSurveySites, static_cast<long long>(latency().count()));
    for (int cap : jobs) {
        survey(sites, home, "m", cap);
    }
    if (!std::getenv("SURVEY_KEEP")) {
        fs::remove_all(home);
    }
    return 0;
}
