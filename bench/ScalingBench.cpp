// How the cost grows: evaluation against the number of statements and of rules, and wildcard
// matching of hostile patterns against the text length and the pattern length. Prints the fitted
// exponent of each series (1 is linear).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "core/BaseDataSchema.h"
#include "core/P3PEvaluator.h"
#include "core/WildcardMatch.h"
#include "summary/PolicySummary.h"
#include "util/HeapRetention.h"

namespace {

namespace fs = std::filesystem;
using perchlight::BaseDataSchema;
using perchlight::bench::TimeTable;

const std::vector<int> kSizes = {1, 3, 10, 30, 100, 300, 1000};
const std::vector<int> kTextLengths = {1024, 4096, 16384, 65536};
const std::vector<int> kPatternStars = {4, 16, 64, 256};

void evaluate(benchmark::State& state, BaseDataSchema* base, const std::string& ruleSet,
              const std::string& policy) {
    const perchlight::Url url("http://shop.example/w3c/policy.xml");
    const perchlight::P3PEvaluator evaluator(nullptr, *base, perchlight::buildSummary);
    for (auto _ : state) {
        perchlight::MatchResult result;
        benchmark::DoNotOptimize(evaluator.evaluatePolicy(ruleSet, policy, url, "p", result));
    }
}

// "*a*a...*a*b" never matches a text of "a"s, and tries every star at every position it can.
std::string hostilePattern(int stars) {
    std::string pattern;
    for (int i = 0; i < stars; ++i) {
        pattern += "*a";
    }
    return pattern + "*b";
}

void wildcard(benchmark::State& state, const std::string& pattern, const std::string& text) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(perchlight::wildcardMatch(pattern, text));
    }
    state.counters["ns_per_cell"] = benchmark::Counter(
        static_cast<double>(pattern.size() * text.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void printSeries(const TimeTable& table, const char* title, const std::string& prefix,
                 const std::vector<int>& sizes) {
    std::vector<std::pair<double, double>> all, upper;
    std::printf("\n%s\n", title);
    for (int n : sizes) {
        const double seconds = table.seconds(prefix + std::to_string(n));
        if (seconds <= 0) {
            continue;
        }
        std::printf("  %6d  %10.1f us\n", n, seconds * 1e6);
        all.emplace_back(n, seconds);
        if (n >= sizes[sizes.size() / 2]) {
            upper.emplace_back(n, seconds);
        }
    }
    std::printf("  fitted exponent: %.2f over all sizes, %.2f over the upper half (1 = linear)\n",
                perchlight::bench::fittedExponent(all), perchlight::bench::fittedExponent(upper));
}

}  // namespace

int main(int argc, char** argv) {
    perchlight::retainFreedHeap();  // as the headless tool does
    const fs::path data = PERCHLIGHT_DATA_DIR;
    BaseDataSchema base((data / BaseDataSchema::kFileName).string());
    base.load();
    const std::string medium = perchlight::bench::readFile(data / "appel-medium.xml");
    const std::string tenStatements = perchlight::bench::generatedPolicy(10);
    for (int n : kSizes) {
        benchmark::RegisterBenchmark(("Statements/" + std::to_string(n)).c_str(), evaluate, &base,
                                     medium, perchlight::bench::generatedPolicy(n));
        benchmark::RegisterBenchmark(("Rules/" + std::to_string(n)).c_str(), evaluate, &base,
                                     perchlight::bench::generatedRuleSet(n), tenStatements);
    }
    for (int length : kTextLengths) {
        benchmark::RegisterBenchmark(("WildcardText/" + std::to_string(length)).c_str(), wildcard,
                                     hostilePattern(16), std::string(length, 'a'));
    }
    for (int stars : kPatternStars) {
        benchmark::RegisterBenchmark(("WildcardPattern/" + std::to_string(stars)).c_str(), wildcard,
                                     hostilePattern(stars), std::string(4096, 'a'));
    }
    benchmark::Initialize(&argc, argv);
    TimeTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    printSeries(table, "Evaluation against statements (Medium rule set):", "Statements/", kSizes);
    printSeries(table, "Evaluation against rules (10-statement policy):", "Rules/", kSizes);
    printSeries(table, "Wildcard match, 16 stars, against text length:", "WildcardText/",
                kTextLengths);
    printSeries(table,
                "Wildcard match, 4096-byte text, against stars in the pattern:", "WildcardPattern/",
                kPatternStars);
    benchmark::Shutdown();
    return 0;
}
