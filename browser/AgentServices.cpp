#include "browser/AgentServices.h"

#include <optional>
#include <utility>

#include "core/XmlNode.h"
#include "summary/PolicySummary.h"
#include "util/FileReader.h"

namespace perchlight {

AgentServices::AgentServices(std::string moduleDirectory)
    : AgentServices(DataLocations::inOneDirectory(std::move(moduleDirectory))) {}

AgentServices::AgentServices(DataLocations locations)
    : locations_(std::move(locations)),
      baseSchema_(locations_.shippedFile("/" + std::string(BaseDataSchema::kFileName))),
      cache_(locations_.cacheDirectory()),
      referenceStore_(&cache_),
      preferences_(locations_),
      evaluator_(&cache_, baseSchema_, buildSummary) {
    locations_.createUserDirectories();
    cache_.setEvaluator(&evaluator_);
    cache_.setRuleSetReader([this](std::string& ruleSet) { return readRuleSet(ruleSet); });
    cache_.setClearListener([this] { referenceStore_.clear(); });
    preferences_.setCookiePolicySource(
        [this](const std::string& name, const std::string& value, const std::string& domain,
               const std::string& path) {
            return referenceStore_.lookupCookiePolicy(name, value, domain, path).str();
        },
        &cache_, &evaluator_);
}

void AgentServices::setRuleSetFile(std::string path) {
    ruleSetFile_ = std::move(path);
    heldRuleSet_.reset();
}

bool AgentServices::holdRuleSet() {
    heldRuleSet_.reset();
    std::string ruleSet;
    if (!readRuleSet(ruleSet)) {
        return false;
    }
    heldRuleSet_ = std::move(ruleSet);
    return true;
}

bool AgentServices::readRuleSet(std::string& ruleSet) {
    if (heldRuleSet_) {
        ruleSet = *heldRuleSet_;
        return true;
    }
    if (ruleSetFile_.empty()) {
        return preferences_.readActiveRuleSet(ruleSet);
    }
    std::optional<std::string> bytes = FileReader::read(ruleSetFile_, XmlNode::kMaxFileSize);
    if (!bytes) {
        return false;
    }
    ruleSet = std::move(*bytes);
    return true;
}

}  // namespace perchlight
