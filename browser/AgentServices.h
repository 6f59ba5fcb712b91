#pragma once

#include <optional>
#include <string>

#include "core/BaseDataSchema.h"
#include "core/P3PEvaluator.h"
#include "prefs/P3PPreferences.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "util/DataLocations.h"

namespace perchlight {

// The services one agent process shares between all its windows and checks, over one set of
// data locations (util/DataLocations): the base data schema, the policy cache, the policy reference
// store, the preference store and the evaluator that ties them together. The only place where they
// are made and wired: the cache reads the active rule set of the preferences, clearing the cache
// empties the reference store, the cookie rules find policies through the store and the cache.
// Build one per process (the command-line tool, the browser module) or one per test. Its parts are
// thread-safe as each of them says; the object itself is neither copied nor moved.
class AgentServices {
  public:
    // Services over the locations; nothing is read until used (see loadPreferences). In the
    // installed layout the user's folders are created here, so that every writer finds them.
    explicit AgentServices(DataLocations locations);
    // Services over one directory that holds everything (a test's home, PERCHLIGHT_HOME).
    explicit AgentServices(std::string moduleDirectory);
    AgentServices(const AgentServices&) = delete;
    AgentServices& operator=(const AgentServices&) = delete;

    const DataLocations& locations() const { return locations_; }
    BaseDataSchema& baseSchema() { return baseSchema_; }
    PolicyCache& cache() { return cache_; }
    ReferenceStore& referenceStore() { return referenceStore_; }
    P3PPreferences& preferences() { return preferences_; }
    // Evaluates policies with the base data schema, data schemas from the cache and the digest.
    const P3PEvaluator& evaluator() const { return evaluator_; }

    // Every evaluation reads this rule set file instead of the preferences' active rule set (a
    // rule set named on the command line); an empty path goes back to the active rule set.
    void setRuleSetFile(std::string path);
    // Reads the rule set (the file named, else the active one) now and evaluates every later
    // policy against these bytes, whatever becomes of the file or the stored level meanwhile: the
    // records of one survey compare only under one rule set, and its thousands of evaluations
    // need not each read the file. False, holding nothing, when it cannot be read; then each
    // evaluation reads it and fails as before. setRuleSetFile lets go of it. Called before the
    // checks that use it start.
    bool holdRuleSet();

  private:
    bool readRuleSet(std::string& ruleSet);

    const DataLocations locations_;
    BaseDataSchema baseSchema_;
    PolicyCache cache_;
    ReferenceStore referenceStore_;
    P3PPreferences preferences_;
    P3PEvaluator evaluator_;
    std::string ruleSetFile_;
    std::optional<std::string> heldRuleSet_;
};

}  // namespace perchlight
