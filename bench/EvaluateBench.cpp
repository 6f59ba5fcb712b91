// Evaluation cost against its floor: a full evaluation of each example policy against each
// installed rule set, next to a bare expat parse of the same bytes. Prints the ratio per pair.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "core/BaseDataSchema.h"
#include "core/P3PEvaluator.h"
#include "summary/PolicySummary.h"
#include "util/HeapRetention.h"

namespace {

namespace fs = std::filesystem;
using perchlight::BaseDataSchema;
using perchlight::MatchResult;
using perchlight::P3PEvaluator;
using perchlight::Url;
using perchlight::bench::readFile;

void parseOnly(const std::string& bytes) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE);
    XML_ParserFree(parser);
}

void evaluate(benchmark::State& state, BaseDataSchema* base, const std::string& ruleSet,
              const std::string& policy) {
    const Url url("http://www.example.com/w3c/policy.xml");
    const P3PEvaluator evaluator(nullptr, *base, perchlight::buildSummary);
    for (auto _ : state) {
        MatchResult result;
        benchmark::DoNotOptimize(evaluator.evaluatePolicy(ruleSet, policy, url, "", result));
        benchmark::DoNotOptimize(result.state);
    }
}

void expatFloor(benchmark::State& state, const std::string& ruleSet, const std::string& policy) {
    for (auto _ : state) {
        parseOnly(ruleSet);
        parseOnly(policy);
    }
}

void printRatios(const perchlight::bench::TimeTable& table, const std::vector<std::string>& pairs) {
    std::printf("\nFull evaluation / bare expat parse of the same bytes (target <= 3.0):\n");
    double worst = 0;
    for (const std::string& pair : pairs) {
        const double floor = table.seconds("ExpatParse/" + pair);
        if (floor <= 0) {
            continue;
        }
        const double ratio = table.seconds("Evaluate/" + pair) / floor;
        worst = std::max(worst, ratio);
        std::printf("  %-40s %6.2f\n", pair.c_str(), ratio);
    }
    std::printf("  %-40s %6.2f\n", "worst", worst);
}

}  // namespace

int main(int argc, char** argv) {
    perchlight::retainFreedHeap();  // as the headless tool does
    const fs::path data = PERCHLIGHT_DATA_DIR;
    // The base data schema is loaded once per process, as in the agent: outside the measurement.
    BaseDataSchema base((data / BaseDataSchema::kFileName).string());
    base.load();
    std::vector<fs::path> policies;
    for (const auto& entry : fs::directory_iterator(data / "examples")) {
        if (entry.path().extension() == ".xml") {
            policies.push_back(entry.path());
        }
    }
    std::sort(policies.begin(), policies.end());
    std::vector<std::string> pairs;
    for (const char* level : {"low", "medium", "high"}) {
        const std::string ruleSet = readFile(data / (std::string("appel-") + level + ".xml"));
        for (const fs::path& path : policies) {
            const std::string policy = readFile(path);
            const std::string pair = path.stem().string() + "/" + level;
            pairs.push_back(pair);
            benchmark::RegisterBenchmark(("Evaluate/" + pair).c_str(), evaluate, &base, ruleSet,
                                         policy);
            benchmark::RegisterBenchmark(("ExpatParse/" + pair).c_str(), expatFloor, ruleSet,
                                         policy);
        }
    }
    benchmark::Initialize(&argc, argv);
    perchlight::bench::TimeTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    printRatios(table, pairs);
    benchmark::Shutdown();
    return 0;
}
