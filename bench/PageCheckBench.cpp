// Page checks over loopback: cold (nothing cached, reference store empty) against warm (every
// document cached, reference files loaded), with the HTTP requests counted at the servers; the
// headless throughput of a warm check of 200 pages; and the peak resident size of the command-line
// tool for a 100-item page and for a 1 MB policy.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PageCheck.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "util/HeapRetention.h"

namespace {

namespace fs = std::filesystem;
using namespace perchlight;

constexpr int kSites = 10;
constexpr int kThroughputPages = 200;

// Sites on 127.0.0.1, one port each. Every site publishes a reference file at the well-known
// location covering all its pages with one policy, and serves generated pages
// "/page/ITEMS/SITES/N.html" whose ITEMS images spread over the first SITES sites.
class LoopbackSites {
  public:
    LoopbackSites() {
        const std::string policy =
            bench::readFile(fs::path(PERCHLIGHT_DATA_DIR) / "examples" / "shop-basic.xml");
        for (int i = 0; i < kSites; ++i) {
            auto server = std::make_unique<httplib::Server>();
            server->set_logger(
                [this](const httplib::Request&, const httplib::Response&) { ++requests_; });
            server->Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& r) {
                r.set_content(
                    "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#basic'>"
                    "<INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>",
                    "text/xml");
            });
            server->Get("/w3c/policy.xml", [policy](const httplib::Request&, httplib::Response& r) {
                r.set_content(policy, "text/xml");
            });
            server->Get(R"(/page/(\d+)/(\d+)/(\d+)\.html)", [this](const httplib::Request& request,
                                                                   httplib::Response& r) {
                r.set_content(page(std::stoi(request.matches[1]), std::stoi(request.matches[2])),
                              "text/html");
            });
            ports_.push_back(server->bind_to_any_port("127.0.0.1"));
            servers_.push_back(std::move(server));
        }
        for (auto& server : servers_) {
            threads_.emplace_back([&server] { server->listen_after_bind(); });
        }
        for (auto& server : servers_) {
            while (!server->is_running()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    ~LoopbackSites() {
        for (auto& server : servers_) {
            server->stop();
        }
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }

    std::string url(int site, const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(ports_[site]) + path;
    }

    std::string pageUrl(int items, int sites, int n = 0) const {
        return url(0, "/page/" + std::to_string(items) + "/" + std::to_string(sites) + "/" +
                          std::to_string(n) + ".html");
    }

    long requests() const { return requests_; }

  private:
    std::string page(int items, int sites) const {
        std::string html = "<html><body><p>A page of the benchmark.</p>\n";
        for (int i = 0; i < items; ++i) {
            html += "<img src='" + url(i % sites, "/img/" + std::to_string(i) + ".gif") + "'>\n";
        }
        return html + "</body></html>\n";
    }

    std::vector<std::unique_ptr<httplib::Server>> servers_;
    std::vector<std::thread> threads_;
    std::vector<int> ports_;
    std::atomic<long> requests_{0};
};

// The agent's services over a module directory of its own with the installed files, evaluating
// at the Medium level, and the check state of one window.
struct CheckSetup {
    explicit CheckSetup(const fs::path& home)
        : services(home.string()),
          cache(services.cache()),
          info(services.referenceStore(), services.cache()) {
        services.setRuleSetFile((home / "appel-medium.xml").string());
    }

    // Clearing the cache also empties the reference store.
    void forget() { cache.clearCache(); }

    AgentServices services;
    PolicyCache& cache;
    P3PMatchInfo info;
};

LoopbackSites* sites = nullptr;
CheckSetup* setup = nullptr;

int checkOnThread(HeadlessOwner& owner, const Url& page) {
    std::thread thread(runCheckThread, std::ref(owner), page, "");
    thread.join();
    return owner.verdict();
}

void pageCheck(benchmark::State& state, int items, int siteCount, bool warm) {
    const Url page(sites->pageUrl(items, siteCount));
    HeadlessOwner owner(setup->info);
    owner.loadPage(page, false);
    setup->forget();
    if (warm) {
        checkOnThread(owner, page);
    }
    long requests = 0;
    int verdict = kVerdictUnknown;
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            setup->forget();
            state.ResumeTiming();
        }
        const long before = sites->requests();
        verdict = checkOnThread(owner, page);
        requests += sites->requests() - before;
    }
    if (verdict != kVerdictMatched) {
        state.SkipWithError("the page did not match");
    }
    state.counters["requests"] =
        benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kAvgIterations);
    state.counters["policies"] = siteCount;
}

void throughput(benchmark::State& state) {
    setup->forget();
    std::vector<Url> pages;
    for (int n = 0; n < kThroughputPages; ++n) {
        pages.emplace_back(sites->pageUrl(10, kSites, n));
    }
    for (const Url& page : pages) {  // warms the cache
        HeadlessOwner owner(setup->info);
        owner.loadPage(page, false);
        checkOnThread(owner, page);
    }
    for (auto _ : state) {
        for (const Url& page : pages) {
            HeadlessOwner owner(setup->info);
            owner.loadPage(page, false);
            benchmark::DoNotOptimize(checkOnThread(owner, page));
        }
    }
    state.counters["pages_per_s"] = benchmark::Counter(
        static_cast<double>(kThroughputPages), benchmark::Counter::kIsIterationInvariantRate);
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

void printPageChecks(const bench::TimeTable& table) {
    std::printf(
        "\nPage check, cold / warm (warm target: no request, well under 1 ms per policy):\n");
    std::printf("  %-12s %12s %12s %8s %14s %10s\n", "items/sites", "cold us", "warm us", "ratio",
                "warm us/policy", "warm req");
    for (int items : {0, 10, 100}) {
        for (int siteCount : {1, kSites}) {
            const std::string suffix = std::to_string(items) + "/" + std::to_string(siteCount);
            const double cold = table.seconds("PageCheckCold/" + suffix);
            const double warm = table.seconds("PageCheckWarm/" + suffix);
            if (cold <= 0 || warm <= 0) {
                continue;
            }
            std::printf("  %-12s %12.0f %12.0f %8.1f %14.0f %10.0f\n", suffix.c_str(), cold * 1e6,
                        warm * 1e6, cold / warm, warm * 1e6 / siteCount,
                        table.counter("PageCheckWarm/" + suffix, "requests"));
        }
    }
    std::printf("  warm throughput, %d pages of 10 items from %d sites: %.0f pages/s\n",
                kThroughputPages, kSites, table.counter("Throughput/real_time", "pages_per_s"));
}

void printMemory(const fs::path& home) {
    std::string bigPolicy;
    for (int statements = 2048; bigPolicy.size() < (1u << 20); statements += 256) {
        bigPolicy = bench::generatedPolicy(statements);
    }
    const fs::path big = home / "big-policy.xml";
    FILE* file = std::fopen(big.c_str(), "wb");
    std::fwrite(bigPolicy.data(), 1, bigPolicy.size(), file);
    std::fclose(file);
    const std::string program = PERCHLIGHT_PROGRAM;
    const std::string rules = (home / "appel-medium.xml").string();
    const long floor = bench::peakResidentKiB(
        {program, "evaluate", (home / "examples-shop-basic.xml").string(), "--rules", rules});
    const long check = bench::peakResidentKiB(
        {program, "check", sites->pageUrl(100, kSites), "--level", "medium"});
    const long evaluate =
        bench::peakResidentKiB({program, "evaluate", big.string(), "--rules", rules});
    std::printf("\nPeak resident size of the command-line tool:\n");
    std::printf("  evaluate of a 1 KB policy (floor)     %8ld KiB\n", floor);
    std::printf("  check of a 100-item page, 10 sites    %8ld KiB  (%.1fx the floor)\n", check,
                floor > 0 ? static_cast<double>(check) / floor : 0);
    std::printf("  evaluate of a %.1f MB policy           %8ld KiB  (%.1fx the floor)\n",
                bigPolicy.size() / 1048576.0, evaluate,
                floor > 0 ? static_cast<double>(evaluate) / floor : 0);
}

}  // namespace

int main(int argc, char** argv) {
    perchlight::retainFreedHeap();  // as the headless tool does
    const fs::path home = makeHome();
    fs::copy_file(fs::path(PERCHLIGHT_DATA_DIR) / "examples" / "shop-basic.xml",
                  home / "examples-shop-basic.xml");
    LoopbackSites loopback;
    CheckSetup checks(home);
    sites = &loopback;
    setup = &checks;
    for (int items : {0, 10, 100}) {
        for (int siteCount : {1, kSites}) {
            const std::string suffix = std::to_string(items) + "/" + std::to_string(siteCount);
            benchmark::RegisterBenchmark(("PageCheckCold/" + suffix).c_str(), pageCheck, items,
                                         siteCount, false)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("PageCheckWarm/" + suffix).c_str(), pageCheck, items,
                                         siteCount, true)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RegisterBenchmark("Throughput", throughput)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    bench::TimeTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    printPageChecks(table);
    printMemory(home);
    benchmark::Shutdown();
    fs::remove_all(home);
    return 0;
}
