#include "ui/PolicyAddresses.h"

#include <exception>
#include <string>

#include "core/MatchResult.h"
#include "ui/BirdMenu.h"
#include "ui/WebHostPage.h"

namespace perchlight {
namespace {

QUrl webAddress(const std::string& text) {
    const QUrl address(QString::fromStdString(text), QUrl::StrictMode);
    return WebHostPage::isWebAddress(address) ? address : QUrl();
}

QUrl resolved(const MatchResult& result, const std::string& reference) {
    if (reference.empty() || result.policyUrl.empty()) {
        return {};
    }
    try {
        return webAddress(result.policyUrl.resolve(reference).str());
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

QUrl PolicyAddresses::fullPolicy(const MatchResult& result) {
    return resolved(result, result.disclosureUri);
}

QUrl PolicyAddresses::optOut(const MatchResult& result) {
    return resolved(result, result.optOutUri);
}

QUrl PolicyAddresses::policy(const MatchResult& result) {
    return result.policyUrl.empty() ? QUrl() : webAddress(result.policyUrl.withoutFragment().str());
}

void PolicyAddresses::applyTo(BirdMenuState& state, const MatchResult& result) {
    state.policyEvaluated = result.state == kStateNoConflict || result.state == kStateConflict;
    state.hasDiscussion = !fullPolicy(result).isEmpty();
    state.hasOptOut = !optOut(result).isEmpty();
}

}  // namespace perchlight
