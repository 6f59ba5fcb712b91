// The native host as the browser runs it, on two pipes: the round trip of a page report when every
// document is cached (p50 and p99 over 1,000 reports, and the host's CPU time per report), and the
// host's resident size idle and after those 1,000 pages.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "host/FrameReader.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kReports = 1000;

// The host with a module directory of its own, over pipes.
class Host {
  public:
    explicit Host(const fs::path& home) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) {
            std::abort();
        }
        ::setenv("PERCHLIGHT_HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            ::execl(PERCHLIGHT_HOST_PROGRAM, PERCHLIGHT_HOST_PROGRAM, nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        toHost_ = in[1];
        fromHost_ = out[0];
    }

    json ask(const json& request) {
        const std::string frame = perchlight::encodeFrame(request.dump());
        if (::write(toHost_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            std::abort();
        }
        for (;;) {
            if (std::optional<perchlight::Frame> reply = reader_.next()) {
                return json::parse(reply->body);
            }
            char buffer[65536];
            const ssize_t count = ::read(fromHost_, buffer, sizeof buffer);
            if (count <= 0) {
                std::abort();
            }
            reader_.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
        }
    }

    // VmRSS of the host in KiB.
    long residentKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("VmRSS:")) {
                return std::stol(line.substr(6));
            }
        }
        return -1;
    }
    // Ends the host and gives its CPU time (user + system) in seconds.
    double finish() {
        ::close(toHost_);
        int status = 0;
        rusage usage{};
        ::wait4(pid_, &status, 0, &usage);
        ::close(fromHost_);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }

  private:
    pid_t pid_ = -1;
    int toHost_ = -1;
    int fromHost_ = -1;
    perchlight::FrameReader reader_{1 << 20};
};

// A page as the extension reports it: the top document with ten images and a style sheet.
json pageReport(int id, const std::string& base) {
    json elements = json::array();
    for (int i = 0; i < 10; ++i) {
        elements.push_back(json{{"tag", "IMG"}, {"src", "/img/" + std::to_string(i) + ".png"}});
    }
    elements.push_back(json{{"tag", "LINK"}, {"rel", "stylesheet"}, {"href", "/style.css"}});
    const std::string url = base + "/page/" + std::to_string(id % 50) + ".html";
    return json{{"id", id},
                {"type", "page"},
                {"tab", id % 8},
                {"url", url},
                {"header", ""},
                {"documents", json::array({json{{"url", url},
                                                {"framePath", json::array()},
                                                {"childFrames", 0},
                                                {"elements", elements}}})}};
}

void BM_HostPageRoundTrip(benchmark::State& state) {
    const fs::path home =
        fs::temp_directory_path() / ("perchlight-host-bench-" + std::to_string(::getpid()));
    fs::create_directories(home);
    for (const char* name : {"BaseDataschema-std.xml", "appel-low.xml", "appel-medium.xml",
                             "appel-high.xml", "template-page.html", "template-statement.html"}) {
        fs::copy_file(fs::path(PERCHLIGHT_DATA_DIR) / name, home / name,
                      fs::copy_options::overwrite_existing);
    }
    const std::string policy =
        perchlight::bench::readFile(fs::path(PERCHLIGHT_DATA_DIR) / "examples" / "shop-basic.xml");
    httplib::Server site;
    std::atomic<int> requests{0};
    site.set_logger([&](const httplib::Request&, const httplib::Response&) { ++requests; });
    site.Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& r) {
        r.set_content(
            "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#basic'>"
            "<INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>",
            "text/xml");
    });
    site.Get("/w3c/policy.xml", [&](const httplib::Request&, httplib::Response& r) {
        r.set_content(policy, "text/xml");
    });
    site.Get(".*", [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
    const int port = site.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { site.listen_after_bind(); });
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    for (auto _ : state) {
        Host host(home);
        host.ask(json{{"id", "warm"}, {"type", "settings.get"}});
        const long idleKiB = host.residentKiB();
        // Every document the reports need is fetched and cached once.
        if (host.ask(pageReport(0, base))["verdict"] != "matched") {
            state.SkipWithError("the warm-up page is not matched");
            break;
        }
        const int requestsBefore = requests;
        std::vector<double> milliseconds;
        milliseconds.reserve(kReports);
        for (int i = 1; i <= kReports; ++i) {
            const auto start = Clock::now();
            const json reply = host.ask(pageReport(i, base));
            milliseconds.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            benchmark::DoNotOptimize(reply);
        }
        const long afterKiB = host.residentKiB();
        state.counters["warm_requests"] = requests - requestsBefore;
        const double cpuSeconds = host.finish();
        std::sort(milliseconds.begin(), milliseconds.end());
        state.counters["p50_ms"] = milliseconds[milliseconds.size() / 2];
        state.counters["p99_ms"] = milliseconds[milliseconds.size() * 99 / 100];
        state.counters["max_ms"] = milliseconds.back();
        state.counters["host_cpu_ms_per_report"] = cpuSeconds * 1000.0 / (kReports + 1);
        state.counters["rss_idle_MiB"] = static_cast<double>(idleKiB) / 1024.0;
        state.counters["rss_after_MiB"] = static_cast<double>(afterKiB) / 1024.0;
    }
    site.stop();
    serving.join();
    std::error_code ignored;
    fs::remove_all(home, ignored);
}
BENCHMARK(BM_HostPageRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
