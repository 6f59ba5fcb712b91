// The command-line client of the portable core: checks policies headless, for scripts and surveys.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/CheckCommand.h"
#include "cli/DemoCommand.h"
#include "cli/EvaluateCommand.h"
#include "cli/FetchCommand.h"
#include "cli/PreferencesCommand.h"
#include "cli/RegisterCommand.h"
#include "cli/SummaryCommand.h"
#include "util/HeapRetention.h"

int main(int argc, char** argv) {
    perchlight::retainFreedHeap();
    CLI::App app("Perchlight: checks web sites' P3P privacy policies against your preferences",
                 "perchlight");
    app.require_subcommand(1);
    perchlight::cli::EvaluateCommand evaluate(app);
    perchlight::cli::FetchCommand fetch(app);
    perchlight::cli::CheckCommand check(app);
    perchlight::cli::DemoCommand demo(app);
    perchlight::cli::RegisterCommand registration(app);
    perchlight::cli::CacheCommand cache(app);
    perchlight::cli::PreferencesCommand preferences(app);
    perchlight::cli::SummaryCommand summary(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : perchlight::cli::kExitUsage;
    }
    if (evaluate.selected()) {
        return evaluate.run(std::cout, std::cerr);
    }
    if (fetch.selected()) {
        return fetch.run(std::cout, std::cerr);
    }
    if (check.selected()) {
        return check.run(std::cout, std::cerr);
    }
    if (demo.selected()) {
        return demo.run(std::cout, std::cerr);
    }
    if (preferences.selected()) {
        return preferences.run(std::cout, std::cerr);
    }
    if (registration.selected()) {
        return registration.run(std::cout, std::cerr);
    }
    if (cache.selected()) {
        return cache.run(std::cout, std::cerr);
    }
    if (summary.selected()) {
        return summary.run(std::cout, std::cerr);
    }
    return perchlight::cli::kExitUsage;
}
