#include "cli/EvaluateCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "cli/RuleSetOptions.h"
#include "cli/SummaryOutput.h"
#include "cli/WhyOutput.h"
#include "core/P3PEvaluator.h"
#include "summary/PolicySummary.h"
#include "util/Error.h"
#include "util/FileReader.h"

namespace perchlight::cli {
namespace {

// Local files are read whole; anything larger is no policy or rule set.
constexpr std::uintmax_t kMaxInputSize = 64 * 1024 * 1024;

std::string readFile(const std::string& path) {
    FileReader::Failure failure = FileReader::Failure::kNone;
    std::optional<std::string> bytes = FileReader::read(path, kMaxInputSize, &failure);
    if (!bytes) {
        throw std::runtime_error("Cannot read " + path + ": " + FileReader::describe(failure));
    }
    return std::move(*bytes);
}

// The policy's address as the agent would name it: a file URL of its absolute path.
Url fileUrl(const std::string& path) {
    const std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
    std::string escaped;
    for (unsigned char c : absolute.generic_string()) {
        if (std::isalnum(c) ||
            std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
            escaped += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return Url("file://" + escaped);
}

std::string codeText(EvaluationCode code) {
    switch (code) {
        case EvaluationCode::kEvaluated:
            return "evaluated";
        case EvaluationCode::kEvaluatedTest:
            return "evaluated (test policy)";
        case EvaluationCode::kPolicyNotFound:
            return "policy not found";
        case EvaluationCode::kMandatoryExtension:
            return "mandatory extension";
        case EvaluationCode::kMalformed:
            return "malformed policy";
    }
    return "unknown";
}

std::string verdictText(int state) {
    switch (state) {
        case kStateNoConflict:
            return "matched";
        case kStateConflict:
            return "conflict";
        default:
            return "not evaluated";
    }
}

int exitStatusFor(int state) {
    switch (state) {
        case kStateNoConflict:
            return kExitMatched;
        case kStateConflict:
            return kExitConflict;
        default:
            return kExitNotEvaluated;
    }
}

nlohmann::json summaryJson(const PolicySummary& summary) {
    nlohmann::json business = nlohmann::json::object();
    for (const BusinessField& field : businessFields()) {
        business[std::string(field.templateKey)] = summary.*field.member;
    }
    nlohmann::json disputes = nlohmann::json::array();
    for (const DisputeRecord& dispute : summary.disputes) {
        disputes.push_back({{"service", dispute.service},
                            {"shortDescription", dispute.shortDescription},
                            {"longDescription", dispute.longDescription},
                            {"imageSource", dispute.imageSource},
                            {"imageAlternativeText", dispute.imageAlternativeText}});
    }
    nlohmann::json statements = nlohmann::json::array();
    for (const StatementRecord& statement : summary.statements) {
        nlohmann::json data = nlohmann::json::object();
        for (const auto& [key, entry] : statement.data) {
            data[key] = {{"label", entry.label}, {"subItems", entry.subItems}};
        }
        statements.push_back({{"name", statement.name},
                              {"data", data},
                              {"purposes", statement.purposes},
                              {"recipients", statement.recipients},
                              {"consequence", statement.consequence}});
    }
    return {{"business", business},
            {"access", summary.access},
            {"disputes", disputes},
            {"statements", statements}};
}

// ruleSetFault names the rule set and its fault when the policy was evaluated against a file
// that is no rule set; empty otherwise. why prints the reasons under each fired rule.
void printText(std::ostream& out, EvaluationCode code, const MatchResult& result,
               const Url& policyUrl, bool why, const std::string& ruleSetFault) {
    out << "policy:  " << policyUrl.str() << "\n";
    out << "code:    " << static_cast<int>(code) << " (" << codeText(code) << ")\n";
    out << "verdict: " << verdictText(result.state) << "\n";
    if (!ruleSetFault.empty()) {
        out << "why:     " << ruleSetFault << "\n";
    }
    if (!result.disclosureUri.empty()) {
        out << "full policy: " << result.disclosureUri << "\n";
    }
    if (!result.optOutUri.empty()) {
        out << "opt-out: " << result.optOutUri << "\n";
    }
    printDescriptions(out, result, why);
    if (code == EvaluationCode::kEvaluated || code == EvaluationCode::kEvaluatedTest) {
        printDigest(out, result);
    }
}

void printJson(std::ostream& out, EvaluationCode code, const MatchResult& result,
               const Url& policyUrl, const std::string& ruleSetFault) {
    nlohmann::json document = {
        {"policyUrl", policyUrl.str()},
        {"code", static_cast<int>(code)},
        {"codeText", codeText(code)},
        {"state", result.state},
        {"verdict", verdictText(result.state)},
        {"test", result.isTest},
        {"disclosureUri", result.disclosureUri},
        {"optOutUri", result.optOutUri},
        {"descriptions", result.descriptions},
        {"firedRules", firedRulesJson(result)},
        {"summary", summaryJson(result.summary)},
    };
    // Site text may hold bytes that are not UTF-8; replace them rather than fail.
    if (code != EvaluationCode::kEvaluated && code != EvaluationCode::kEvaluatedTest) {
        document["error"] = {{"input", "policy"}, {"message", codeText(code)}};
    } else if (!ruleSetFault.empty()) {
        document["error"] = {{"input", "rules"}, {"message", ruleSetFault}};
    }
    out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// Why an evaluation gave no verdict: which input was at fault and the core's message.
struct Failure {
    std::string input;  // "rules" or "policy"
    std::string message;
};

// The message's parts where the core joins a cause, a context and a data reference into one text
// ("...Exception while processing data ref item :#user.name").
nlohmann::json messageParts(const std::string& message) {
    constexpr std::string_view kContext = "Exception while processing data ref item :";
    nlohmann::json parts = {{"message", message}};
    if (const std::size_t at = message.find(kContext); at != std::string::npos) {
        parts["cause"] = message.substr(0, at);
        parts["context"] = "Exception while processing data ref item";
        parts["reference"] = message.substr(at + kContext.size());
    }
    return parts;
}

void printFailureJson(std::ostream& out, const Failure& failure, const Url& policyUrl,
                      std::optional<EvaluationCode> code) {
    nlohmann::json error = messageParts(failure.message);
    error["input"] = failure.input;
    const nlohmann::json document = {
        {"policyUrl", policyUrl.str()},
        {"code", code ? nlohmann::json(static_cast<int>(*code)) : nlohmann::json(nullptr)},
        {"codeText", code ? codeText(*code) : "not evaluated"},
        {"state", kStateNotEvaluated},
        {"verdict", verdictText(kStateNotEvaluated)},
        {"error", error},
    };
    out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

bool writeHtml(EvaluationCode code, const MatchResult& result, const std::string& path,
               std::ostream& err) {
    if (code != EvaluationCode::kEvaluated && code != EvaluationCode::kEvaluatedTest) {
        err << "perchlight: no summary page for a policy that was not evaluated\n";
        return false;
    }
    return writeSummaryHtml(result, path, err);
}

}  // namespace

EvaluateCommand::EvaluateCommand(CLI::App& app)
    : command_(app.add_subcommand("evaluate",
                                  "Evaluate a local P3P policy file against an APPEL rule set")) {
    command_->add_option("policy", policyPath_, "P3P policy document")->required();
    command_->add_option("--rules", ruleSetPath_, "APPEL rule set file")->required();
    command_->add_option("--name", policyName_,
                         "Name of the policy within the document (default: the first)");
    command_->add_option("--request", requestUri_,
                         "URI of the request the policy covers (for APPEL:REQUEST rules)");
    command_->add_flag("--json", json_, "Print the match result as JSON");
    command_->add_flag("--why", why_,
                       "Under each fired rule, the statements and elements that made it fire");
    command_->add_option("--html", htmlPath_, "Also write the HTML summary page to this file");
}

bool EvaluateCommand::selected() const {
    return command_->parsed();
}

int EvaluateCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    MatchResult result;
    Url policyUrl;
    try {
        if (!requestUri_.empty()) {
            result.requestUri = Url(requestUri_);
        }
    } catch (const Error& error) {
        err << "perchlight: --request: " << error.message() << ": " << requestUri_ << "\n";
        return kExitUsage;
    }
    // A rule set that cannot be evaluated against is named as the input at fault, before the
    // policy is looked at.
    Failure failure{"rules", RuleSetOptions::problemWith(ruleSetPath_)};
    // A well-formed file that is no rule set still gets the policy evaluated: the engine leaves
    // the state at -1, and the digest and the policy's links are shown beside the reason.
    std::string ruleSetFault;
    if (failure.message == RuleSetOptions::kNotARuleSet) {
        ruleSetFault = "the rule set " + ruleSetPath_ + " cannot be used: " + failure.message;
        failure.message.clear();
    }
    std::optional<EvaluationCode> code;
    try {
        policyUrl = fileUrl(policyPath_);
        if (failure.message.empty()) {
            failure.input = "policy";
            const std::string ruleSet = readFile(ruleSetPath_);
            const std::string policy = readFile(policyPath_);
            // Only the local file is read: no schema or document is fetched for it.
            const P3PEvaluator evaluator(nullptr, services.baseSchema(), buildSummary);
            code = evaluator.evaluatePolicy(ruleSet, policy, policyUrl, policyName_, result);
            if (json_) {
                printJson(out, *code, result, policyUrl, ruleSetFault);
            } else {
                printText(out, *code, result, policyUrl, why_, ruleSetFault);
            }
            if (!htmlPath_.empty() && !writeHtml(*code, result, htmlPath_, err)) {
                return kExitNotEvaluated;
            }
            return exitStatusFor(result.state);
        }
        failure.message = "Cannot read the rule set " + ruleSetPath_ + ": " + failure.message;
    } catch (const Error& error) {
        failure.message = error.message();
    } catch (const std::exception& error) {
        failure.message = error.what();
    }
    if (json_) {
        printFailureJson(out, failure, policyUrl, code);
    }
    err << "perchlight: " << failure.message << "\n";
    return kExitNotEvaluated;
}

}  // namespace perchlight::cli
