#include "cli/FetchCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "retrieval/PolicyCache.h"
#include "util/Error.h"

namespace perchlight::cli {

FetchCommand::FetchCommand(CLI::App& app)
    : command_(app.add_subcommand("fetch", "Fetch a document through the policy cache")) {
    command_->add_option("URL", url_, "Absolute http or https URL")->required();
}

bool FetchCommand::selected() const {
    return command_->parsed();
}

int FetchCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    PolicyCache& cache = services.cache();
    try {
        cache.loadCacheIndex();
        const bool cached = cache.isPolicyCached(Url::withoutFragment(url_));
        HttpHeaders headers;
        const std::optional<std::string> text = cache.getDocument(url_, &headers);
        cache.writeCacheIndex();
        out << "from cache: " << (cached ? "yes" : "no") << "\n";
        for (const auto& [name, value] : headers) {
            out << name << ": " << value << "\n";
        }
        if (!text) {
            err << "perchlight: no document at " << url_ << "\n";
            return kExitNotEvaluated;
        }
        out << "\n" << *text << (text->ends_with('\n') ? "" : "\n");
        return 0;
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
        return kExitNotEvaluated;
    }
}

CacheCommand::CacheCommand(CLI::App& app)
    : command_(app.add_subcommand("cache", "List or clear the policy cache")) {
    command_->add_option("ACTION", action_, "list or clear")
        ->required()
        ->check(CLI::IsMember({"list", "clear"}));
}

bool CacheCommand::selected() const {
    return command_->parsed();
}

int CacheCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    PolicyCache& cache = services.cache();
    try {
        if (action_ == "clear") {
            cache.clearCache();
            out << "cache cleared: " << cache.directory() << "\n";
            return 0;
        }
        cache.loadCacheIndex();
        for (const PolicyCache::Listing& entry : cache.list()) {
            out << entry.url << "\t" << (entry.fileName.empty() ? "(no document)" : entry.fileName)
                << "\t" << entry.expiry << "\n";
        }
        return 0;
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
        return kExitNotEvaluated;
    }
}

}  // namespace perchlight::cli
