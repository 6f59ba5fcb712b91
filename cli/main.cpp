// The command-line client of the portable core: checks policies headless, for scripts and surveys.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <vector>

#include "browser/AgentServices.h"
#include "cli/CheckCommand.h"
#include "cli/DemoCommand.h"
#include "cli/EvaluateCommand.h"
#include "cli/ExitStatus.h"
#include "cli/FetchCommand.h"
#include "cli/PreferencesCommand.h"
#include "cli/RegisterCommand.h"
#include "cli/SummaryCommand.h"
#include "cli/SurveyCommand.h"
#include "util/DataLocations.h"
#include "util/HeapRetention.h"

int main(int argc, char** argv) {
    using namespace perchlight::cli;
    perchlight::retainFreedHeap();
    CLI::App app("Perchlight: checks web sites' P3P privacy policies against your preferences",
                 "perchlight");
    app.require_subcommand(1);
    app.set_version_flag("--version", "perchlight " PERCHLIGHT_VERSION);
    app.footer(perchlight::DataLocations::kResolutionOrder);
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<EvaluateCommand>(app));
    commands.push_back(std::make_unique<FetchCommand>(app));
    commands.push_back(std::make_unique<CheckCommand>(app));
    commands.push_back(std::make_unique<DemoCommand>(app));
    commands.push_back(std::make_unique<RegisterCommand>(app));
    commands.push_back(std::make_unique<CacheCommand>(app));
    commands.push_back(std::make_unique<PreferencesCommand>(app));
    commands.push_back(std::make_unique<SummaryCommand>(app));
    commands.push_back(std::make_unique<SurveyCommand>(app));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kExitUsage;
    }
    perchlight::AgentServices services(perchlight::DataLocations::forThisProcess());
    for (const std::unique_ptr<Command>& command : commands) {
        if (command->selected()) {
            return command->run(services, std::cout, std::cerr);
        }
    }
    return kExitUsage;
}
