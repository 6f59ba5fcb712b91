#include "host/HostSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "browser/AgentServices.h"
#include "browser/BirdPicture.h"
#include "browser/ReportedPage.h"
#include "host/FormRun.h"
#include "host/PageRun.h"
#include "prefs/BirdBroadcast.h"
#include "prefs/BirdSettings.h"
#include "prefs/P3PPreferences.h"
#include "prefs/RuleSetTransfer.h"
#include "summary/SummaryPage.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using nlohmann::json;

json settingsFields(AgentServices& services) {
    P3PPreferences& preferences = services.preferences();
    const PreferenceValues values = preferences.snapshot();
    json levels = json::array();
    for (const PrivacyLevelName& level : privacyLevelNames()) {
        levels.push_back(
            json{{"name", std::string(level.name)}, {"label", std::string(level.label)}});
    }
    json warnings = json::array();
    for (const CustomWarningGroup& group : customWarningGroups()) {
        json boxes = json::array();
        for (const std::string_view text : group.boxes) {
            boxes.push_back(std::string(text));
        }
        warnings.push_back(json{{"heading", std::string(group.heading)}, {"boxes", boxes}});
    }
    json custom = json::array();
    const CustomSettings settings = preferences.customSettings();
    for (int i = 0; i < kCustomSettingCount; ++i) {
        custom.push_back(static_cast<bool>(settings[i]));
    }
    constexpr std::uint32_t verdictSounds =
        kSoundUnknownPolicy | kSoundUnmatchedPolicy | kSoundMatchedPolicy;
    return json{{"level", std::string(privacyLevelName(values.privacyLevel))},
                {"levels", levels},
                {"custom", custom},
                {"warnings", warnings},
                {"sounds", (values.sounds & verdictSounds) != 0},
                {"enabled", static_cast<bool>(BirdSettings::enabled)},
                {"warnForms", !values.dontWarnOnForms}};
}

// Saves the level and, below the Imported level, the custom rule set that goes with it.
void saveLevel(P3PPreferences& preferences) {
    preferences.saveSettings();
    if (preferences.privacyLevel() != PrivacyLevel::kLevelImported) {
        preferences.writeCustomRuleSet(
            preferences.locations().userFile(P3PPreferences::kCustomRuleSetFile));
    }
}

json siteList(P3PPreferences& preferences) {
    json sites = json::array();
    for (const Url& site : preferences.noPromptList()) {
        sites.push_back(site.str());
    }
    return json{{"sites", sites}};
}

Url siteField(const Fields& fields) {
    const Url url(fields.webUrl("site"));
    return Url(url.base());
}

std::string cutText(const std::string& text, std::size_t room, const char* note) {
    std::string cut = text.substr(0, room);
    // Not inside a UTF-8 sequence.
    while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) {
        cut.pop_back();
    }
    if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80) != 0) {
        cut.pop_back();
    }
    return cut + note;
}

}  // namespace

std::string fitReply(json reply) {
    std::string text = reply.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() <= kMaxReplyBytes) {
        return text;
    }
    // Escaping can make the text longer than its bytes; leave room for that and the note.
    for (const char* field : {"html", "text"}) {
        if (reply.contains(field) && reply[field].is_string()) {
            const std::string& original = reply[field].get_ref<const std::string&>();
            std::size_t room =
                original.size() - std::min(original.size(), text.size() - kMaxReplyBytes);
            const char* note =
                field == std::string_view("html")
                    ? "\n<p><b>Perchlight: the rest of this page was cut off.</b></p>"
                    : "\n[Perchlight: the rest of this document was cut off.]";
            while (text.size() > kMaxReplyBytes && room > 0) {
                room = room * 9 / 10;
                reply[field] = cutText(original, room, note);
                text = reply.dump(-1, ' ', false, json::error_handler_t::replace);
            }
            reply["truncated"] = true;
            return encodeReply(reply);
        }
    }
    // The items' compact policies go first, then the items; the page's own compact policy stays.
    for (const auto& [field, kept] : {std::pair<const char*, std::size_t>{"compactPolicies", 1},
                                      std::pair<const char*, std::size_t>{"items", 0}}) {
        if (!reply.contains(field) || !reply[field].is_array()) {
            continue;
        }
        json& list = reply[field];
        while (text.size() > kMaxReplyBytes && list.size() > kept) {
            reply["truncated"] = true;
            list.erase(
                list.begin() + static_cast<std::ptrdiff_t>(std::max(kept, list.size() * 3 / 4)),
                list.end());
            text = reply.dump(-1, ' ', false, json::error_handler_t::replace);
        }
    }
    return encodeReply(reply);
}

HostSession::HostSession(AgentServices& services, ReplySink& sink)
    : services_(services), sink_(sink) {}

HostSession::~HostSession() {
    finish();
}

const std::map<std::string_view, HostSession::Handler>& HostSession::handlers() {
    static const std::map<std::string_view, Handler> table{
        {"page", &HostSession::page},
        {"navigate", &HostSession::navigate},
        {"closed", &HostSession::closed},
        {"summary", &HostSession::summary},
        {"source", &HostSession::source},
        {"form", &HostSession::form},
        {"settings.get", &HostSession::settingsGet},
        {"settings.set", &HostSession::settingsSet},
        {"import", &HostSession::importRuleSet},
        {"export", &HostSession::exportRuleSet},
        {"noprompt.list", &HostSession::noPromptList},
        {"noprompt.add", &HostSession::noPromptAdd},
        {"noprompt.remove", &HostSession::noPromptRemove},
        {"cache.clear", &HostSession::cacheClear},
    };
    return table;
}

void HostSession::reply(const json& reply) {
    sink_.send(fitReply(reply));
}

void HostSession::announce(int command) {
    if (broadcast_ != nullptr) {
        broadcast_->broadcast(command, false);
    }
}

void HostSession::handleFrame(const Frame& frame) {
    switch (frame.kind) {
        case Frame::Kind::kEmpty:
            reply(errorReply(nullptr, "empty message"));
            return;
        case Frame::Kind::kTooLarge:
            reply(errorReply(nullptr, "message too large: " + std::to_string(frame.length) +
                                          " bytes (limit " + std::to_string(kMaxRequestBytes) +
                                          ")"));
            return;
        case Frame::Kind::kMessage:
            handleMessage(frame.body);
            return;
    }
}

void HostSession::handleMessage(std::string_view body) {
    reap();
    Request request;
    try {
        request = decodeRequest(body);
    } catch (const RequestError& error) {
        reply(errorReply(requestIdOf(body), error.what()));
        return;
    }
    const auto handler = handlers().find(request.type);
    if (handler == handlers().end()) {
        reply(errorReply(request.id, "unknown type: " + request.type));
        return;
    }
    try {
        std::optional<json> fields = (this->*handler->second)(request);
        if (fields) {
            fields->update(json{{"id", request.id}, {"ok", true}});
            reply(*fields);
        }
    } catch (const RequestError& error) {
        reply(errorReply(request.id, error.what()));
    } catch (const Error& error) {
        reply(errorReply(request.id, error.message()));
    } catch (const std::exception& error) {
        reply(errorReply(request.id, error.what()));
    }
}

void HostSession::reap() {
    std::erase_if(pageRuns_, [](const std::shared_ptr<PageRun>& run) {
        if (run->ended()) {
            run->join();
            return true;
        }
        return false;
    });
    std::erase_if(formRuns_, [](const std::shared_ptr<FormRun>& run) {
        if (run->ended()) {
            run->join();
            return true;
        }
        return false;
    });
}

std::size_t HostSession::activeRuns() {
    reap();
    return pageRuns_.size() + formRuns_.size();
}

void HostSession::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    for (const auto& run : pageRuns_) {
        run->cancel();
    }
    for (const auto& run : formRuns_) {
        run->cancel();
    }
    for (const auto& run : pageRuns_) {
        run->join();
    }
    for (const auto& run : formRuns_) {
        run->join();
    }
    pageRuns_.clear();
    formRuns_.clear();
    tabs_.clear();
    const auto save = [](const char* what, auto step) {
        try {
            step();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "perchlight-host: %s: %s\n", what, error.what());
        }
    };
    save("saving the cookie history", [this] { services_.preferences().writeCookieHistory(); });
    save("saving the cache index", [this] { services_.cache().writeCacheIndex(); });
}

HostSession::Tab& HostSession::tabFor(std::int64_t tab) {
    auto found = tabs_.find(tab);
    if (found == tabs_.end()) {
        if (tabs_.size() >= kMaxTabs) {
            // The tab used longest ago goes; its running check, if any, is cancelled.
            auto oldest = std::min_element(
                tabs_.begin(), tabs_.end(),
                [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
            if (oldest->second.current) {
                oldest->second.current->cancel();
            }
            tabs_.erase(oldest);
        }
        found = tabs_.emplace(tab, Tab{}).first;
    }
    found->second.lastUse = ++uses_;
    return found->second;
}

std::shared_ptr<PageRun> HostSession::finishedRun(std::int64_t tab) {
    const auto found = tabs_.find(tab);
    if (found == tabs_.end() || !found->second.current || !found->second.current->finished() ||
        found->second.current->cancelled()) {
        throw RequestError("no finished check for tab " + std::to_string(tab));
    }
    return found->second.current;
}

std::optional<json> HostSession::page(const Request& request) {
    const Fields fields(request.message);
    const std::int64_t tab = fields.tab();
    const Url url(fields.webUrl("url"));
    // The check asks the site for its headers itself, as the Qt agent's check does; the headers
    // the browser saw give the results their compact policies and name no policy.
    std::vector<SeenP3PHeader> reported = readReportedHeaders(fields);
    const CollectedPage collected = ReportedPage::collect(readDocuments(fields));
    // Another process (perchlight level, the Qt dialogs) may have changed the level.
    services_.preferences().loadSettings();
    Tab& entry = tabFor(tab);
    if (entry.current) {
        entry.current->cancel();
    }
    if (!BirdSettings::enabled) {
        // Checking is off (here or in another process): the sleeping bird, no check.
        entry.current.reset();
        return json{{"verdict", verdictWord(kVerdictUnknown)},
                    {"picture", kPictureSleeping},
                    {"title", std::string(kBirdTipIdle)},
                    {"enabled", false},
                    {"policy", ""},
                    {"fullPolicy", ""},
                    {"optOut", ""},
                    {"rules", json::array()},
                    {"items", json::array()},
                    {"compactPolicies", json::array()}};
    }
    auto run =
        std::make_shared<PageRun>(services_, request.id, url, collected, std::move(reported));
    entry.current = run;
    pageRuns_.push_back(run);
    run->start([this](const json& reply) { this->reply(reply); });
    return std::nullopt;
}

std::optional<json> HostSession::navigate(const Request& request) {
    const std::int64_t tab = Fields(request.message).tab();
    const auto found = tabs_.find(tab);
    if (found != tabs_.end() && found->second.current && !found->second.current->ended()) {
        found->second.current->cancel();
    }
    return json::object();
}

std::optional<json> HostSession::closed(const Request& request) {
    const std::int64_t tab = Fields(request.message).tab();
    const auto found = tabs_.find(tab);
    if (found != tabs_.end()) {
        if (found->second.current) {
            found->second.current->cancel();
        }
        tabs_.erase(found);
    }
    return json::object();
}

std::optional<json> HostSession::summary(const Request& request) {
    const std::shared_ptr<PageRun> run = finishedRun(Fields(request.message).tab());
    return json{{"html", SummaryPage().buildPage(run->matchInfo().mainResult())}};
}

std::optional<json> HostSession::source(const Request& request) {
    const std::shared_ptr<PageRun> run = finishedRun(Fields(request.message).tab());
    const Url policy = run->matchInfo().mainPolicyUrl();
    if (policy.empty()) {
        throw RequestError("no policy for this page");
    }
    const std::string document = policy.withoutFragment().str();
    const std::optional<std::string> text = services_.cache().readCachedDocument(document);
    if (!text) {
        throw RequestError("the policy is not in the cache: " + document);
    }
    return json{{"text", *text}, {"policy", document}};
}

std::optional<json> HostSession::form(const Request& request) {
    const Fields fields(request.message);
    fields.tab();
    const std::string target = fields.string("target");
    services_.preferences().loadSettings();
    auto run = std::make_shared<FormRun>(services_, request.id, target);
    formRuns_.push_back(run);
    run->start([this](const json& reply) { this->reply(reply); });
    return std::nullopt;
}

std::optional<json> HostSession::settingsGet(const Request&) {
    services_.preferences().loadSettings();
    services_.preferences().activeRuleSetPath(true);  // the boxes of a level set elsewhere
    return settingsFields(services_);
}

std::optional<json> HostSession::settingsSet(const Request& request) {
    const Fields fields(request.message);
    P3PPreferences& preferences = services_.preferences();
    // Everything is read and checked before anything changes.
    std::optional<PrivacyLevel> level;
    if (fields.has("level")) {
        level = privacyLevelNamed(fields.string("level", 32));
        if (!level) {
            throw RequestError("field level: not one of low, medium, high, custom, imported");
        }
        if (*level == PrivacyLevel::kLevelImported &&
            !std::filesystem::is_regular_file(
                preferences.locations().userFile(P3PPreferences::kImportedRuleSetFile))) {
            throw RequestError("field level: no imported rule set; import one first");
        }
    }
    std::optional<CustomSettings> custom;
    if (fields.has("custom")) {
        const json& boxes = fields.array("custom", kCustomSettingCount);
        if (boxes.size() != kCustomSettingCount) {
            throw RequestError("field custom: not " + std::to_string(kCustomSettingCount) +
                               " booleans");
        }
        CustomSettings settings;
        for (int i = 0; i < kCustomSettingCount; ++i) {
            if (!boxes[i].is_boolean()) {
                throw RequestError("field custom: not " + std::to_string(kCustomSettingCount) +
                                   " booleans");
            }
            settings[i] = boxes[i].get<bool>();
        }
        custom = settings;
    }
    // -1: left as it is.
    const auto flag = [&](const char* name) {
        return fields.has(name) ? static_cast<int>(fields.boolean(name)) : -1;
    };
    const int sounds = flag("sounds");
    const int enabled = flag("enabled");
    const int warnForms = flag("warnForms");

    std::optional<MonitorLock> guard;
    guard.emplace(preferences.lock());
    preferences.loadSettings();
    const PreferenceValues before = preferences.snapshot();
    const bool enabledBefore = BirdSettings::enabled;
    try {
        if (custom) {
            preferences.setCustomSettings(*custom);
            preferences.setPrivacyLevel(PrivacyLevel::kLevelCustom);
        } else if (level) {
            preferences.setPrivacyLevel(*level);
        }
        if (sounds >= 0) {
            PreferenceValues values = preferences.snapshot();
            constexpr std::uint32_t verdictSounds =
                kSoundUnknownPolicy | kSoundUnmatchedPolicy | kSoundMatchedPolicy;
            if (sounds == 0) {
                values.sounds &= ~verdictSounds;
            } else if ((values.sounds & verdictSounds) == 0) {
                values.sounds |= PreferenceValues{}.sounds;
            }
            preferences.restore(values);
        }
        if (enabled >= 0) {
            BirdSettings::enabled = enabled == 1;
        }
        if (warnForms >= 0) {
            PreferenceValues values = preferences.snapshot();
            values.dontWarnOnForms = warnForms == 0;
            preferences.restore(values);
        }
        if (custom || level) {
            preferences.activeRuleSetPath(true);
            saveLevel(preferences);
        } else {
            preferences.saveSettings();
        }
    } catch (...) {
        preferences.restore(before);
        BirdSettings::enabled = enabledBefore;
        throw;
    }
    guard.reset();  // the other processes may read the settings at once
    announce(custom || level ? kBroadcastReloadSettingsAndRuleSet : kBroadcastReloadSettings);
    if (enabled >= 0 && (enabled == 1) != enabledBefore) {
        announce(enabled == 1 ? kBroadcastCheckingEnabled : kBroadcastCheckingDisabled);
    }
    return settingsFields(services_);
}

std::optional<json> HostSession::importRuleSet(const Request& request) {
    const std::string text = Fields(request.message).string("text", kMaxRuleSetBytes);
    P3PPreferences& preferences = services_.preferences();
    const std::string& directory = preferences.locations().userDirectory();
    const std::string requestFile = RuleSetTransfer::uniqueStagedPath(directory) + ".request";
    struct Remove {
        const std::string& path;
        ~Remove() {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    } removeRequest{requestFile};
    {
        std::ofstream out(requestFile, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) {
            throw RequestError("Failed to create Import file");
        }
    }
    bool blockRule = false;
    if (!RuleSetTransfer::validateImportedRuleSet(requestFile, blockRule)) {
        throw RequestError("not an APPEL rule set: Invalid Appel File");
    }
    if (!RuleSetTransfer::stageImport(requestFile, directory)) {
        throw RequestError("Failed to create Import file");
    }
    std::optional<MonitorLock> guard;
    guard.emplace(preferences.lock());
    preferences.loadSettings();
    const PreferenceValues before = preferences.snapshot();
    preferences.setPrivacyLevel(PrivacyLevel::kLevelImported);
    preferences.activeRuleSetPath(true);
    if (!RuleSetTransfer::installStagedImport(directory)) {
        RuleSetTransfer::discardStagedImport(directory);
        preferences.restore(before);
        preferences.activeRuleSetPath(true);
        throw RequestError("Failed to create import file");
    }
    preferences.saveSettings();
    guard.reset();
    announce(kBroadcastReloadSettingsAndRuleSet);
    json fields = settingsFields(services_);
    if (blockRule) {
        fields["warning"] = std::string(RuleSetTransfer::kBlockRuleWarning);
    }
    return fields;
}

std::optional<json> HostSession::exportRuleSet(const Request&) {
    P3PPreferences& preferences = services_.preferences();
    preferences.loadSettings();
    std::string text;
    if (!preferences.readActiveRuleSet(text)) {
        throw RequestError("the active rule set cannot be read");
    }
    return json{{"text", text}};
}

std::optional<json> HostSession::noPromptList(const Request&) {
    P3PPreferences& preferences = services_.preferences();
    preferences.loadNoPromptList(
        preferences.locations().userFile(P3PPreferences::kNoPromptSitesFile));
    return siteList(preferences);
}

std::optional<json> HostSession::noPromptAdd(const Request& request) {
    const Url site = siteField(Fields(request.message));
    P3PPreferences& preferences = services_.preferences();
    preferences.loadNoPromptList(
        preferences.locations().userFile(P3PPreferences::kNoPromptSitesFile));
    preferences.addNoPrompt(site, true);
    announce(kBroadcastReloadNoPromptSites);
    return siteList(preferences);
}

std::optional<json> HostSession::noPromptRemove(const Request& request) {
    const Url site = siteField(Fields(request.message));
    P3PPreferences& preferences = services_.preferences();
    preferences.loadNoPromptList(
        preferences.locations().userFile(P3PPreferences::kNoPromptSitesFile));
    std::vector<Url> sites = preferences.noPromptList();
    std::erase(sites, site);
    preferences.setNoPromptList(sites);
    announce(kBroadcastReloadNoPromptSites);
    return siteList(preferences);
}

std::optional<json> HostSession::cacheClear(const Request&) {
    services_.cache().clearCache();
    return json::object();
}

}  // namespace perchlight
