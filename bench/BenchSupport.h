#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace perchlight::bench {

std::string readFile(const std::filesystem::path& path);

// A policy named "p" with the given number of statements, each with its own purposes,
// recipients and data references resolved against the base data schema.
std::string generatedPolicy(int statements);
// A rule set of the given number of rules that the generated policy never fires, closed by the
// catch-all rule; so every rule is tried against every statement.
std::string generatedRuleSet(int rules);

// The console report, keeping the real time per iteration of every benchmark by name so that
// ratios and growth can be printed once all have run.
class TimeTable : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override;

    // Seconds per iteration of the fastest repetition, or 0 when the benchmark did not run.
    double seconds(const std::string& name) const;
    // The user counter of a run, or 0.
    double counter(const std::string& name, const std::string& counterName) const;

  private:
    std::map<std::string, double> seconds_;
    std::map<std::string, std::map<std::string, double>> counters_;
};

// The exponent k of the least-squares fit time = c * n^k over (n, time) points: 1 is linear.
double fittedExponent(const std::vector<std::pair<double, double>>& points);

// Runs a program to its end and gives its peak resident size in KiB (-1 when it cannot be run).
long peakResidentKiB(const std::vector<std::string>& argv);

}  // namespace perchlight::bench
