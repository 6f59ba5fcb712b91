#include "BenchSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cmath>
#include <fstream>
#include <iterator>

namespace perchlight::bench {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string generatedPolicy(int statements) {
    static const char* const kPurposes[] = {"<current/>", "<admin/>", "<develop/>", "<tailoring/>"};
    static const char* const kData[] = {"#dynamic.clickstream", "#dynamic.http",
                                        "#user.home-info.postal", "#user.name"};
    std::string policy =
        "<POLICIES xmlns=\"http://www.w3.org/2002/01/P3Pv1\"><POLICY name=\"p\" "
        "discuri=\"http://shop.example/privacy.html\"><ENTITY><DATA-GROUP>"
        "<DATA ref=\"#business.name\">Example</DATA></DATA-GROUP></ENTITY>"
        "<ACCESS><nonident/></ACCESS>\n";
    for (int i = 0; i < statements; ++i) {
        policy += "<STATEMENT><PURPOSE>" + std::string(kPurposes[i % 4]) +
                  "</PURPOSE><RECIPIENT><ours/></RECIPIENT><RETENTION><stated-purpose/>"
                  "</RETENTION><DATA-GROUP><DATA ref=\"" +
                  kData[i % 4] +
                  "\"/><DATA ref=\"#dynamic.cookies\"><CATEGORIES><navigation/>"
                  "</CATEGORIES></DATA></DATA-GROUP></STATEMENT>\n";
    }
    return policy + "</POLICY></POLICIES>\n";
}

std::string generatedRuleSet(int rules) {
    std::string ruleSet =
        "<appel:RULESET xmlns:appel=\"http://www.w3.org/2001/02/APPELv1\" "
        "xmlns:p3p=\"http://www.w3.org/2000/12/P3Pv1\">\n";
    for (int i = 0; i < rules; ++i) {
        ruleSet += "<appel:RULE behavior=\"block\" description=\"rule " + std::to_string(i) +
                   "\"><p3p:POLICY><p3p:STATEMENT><p3p:PURPOSE appel:connective=\"or\">"
                   "<p3p:telemarketing/><p3p:contact/></p3p:PURPOSE></p3p:STATEMENT>"
                   "</p3p:POLICY></appel:RULE>\n";
    }
    return ruleSet +
           "<appel:RULE behavior=\"request\"><appel:OTHERWISE/></appel:RULE></appel:RULESET>\n";
}

void TimeTable::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.iterations == 0) {
            continue;
        }
        // Of repeated runs the fastest is kept: on a shared machine the others measure the
        // neighbours as well.
        const std::string name = run.benchmark_name();
        const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
        const auto known = seconds_.find(name);
        if (known != seconds_.end() && known->second <= seconds) {
            continue;
        }
        seconds_[name] = seconds;
        for (const auto& [counterName, value] : run.counters) {
            counters_[name][counterName] = value.value;
        }
    }
}

double TimeTable::seconds(const std::string& name) const {
    const auto found = seconds_.find(name);
    return found == seconds_.end() ? 0 : found->second;
}

double TimeTable::counter(const std::string& name, const std::string& counterName) const {
    const auto run = counters_.find(name);
    if (run == counters_.end()) {
        return 0;
    }
    const auto found = run->second.find(counterName);
    return found == run->second.end() ? 0 : found->second;
}

double fittedExponent(const std::vector<std::pair<double, double>>& points) {
    double sumX = 0, sumY = 0, sumXX = 0, sumXY = 0;
    for (const auto& [n, time] : points) {
        const double x = std::log(n), y = std::log(time);
        sumX += x;
        sumY += y;
        sumXX += x * x;
        sumXY += x * y;
    }
    const double count = static_cast<double>(points.size());
    const double denominator = count * sumXX - sumX * sumX;
    return denominator == 0 ? 0 : (count * sumXY - sumX * sumY) / denominator;
}

long peakResidentKiB(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 127) {
        return -1;
    }
    return usage.ru_maxrss;
}

}  // namespace perchlight::bench
