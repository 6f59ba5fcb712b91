#include "retrieval/CheckDocuments.h"

namespace perchlight {
namespace {

thread_local CheckDocuments* threadDocuments = nullptr;

std::size_t textBytes(const CheckDocuments::Kept& kept) {
    return (kept.text ? kept.text->size() : 0) + kept.headers.size() +
           (kept.dropped ? kept.dropped->size() : 0);
}

}  // namespace

CheckDocuments::Scope::Scope(CheckDocuments* documents) : previous_(threadDocuments) {
    threadDocuments = documents;
}

CheckDocuments::Scope::~Scope() {
    threadDocuments = previous_;
}

CheckDocuments* CheckDocuments::current() {
    return threadDocuments;
}

std::optional<CheckDocuments::Kept> CheckDocuments::find(const std::string& url) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = kept_.find(url);
    if (found == kept_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void CheckDocuments::keep(const std::string& url, Kept kept) {
    std::lock_guard<std::mutex> guard(lock_);
    if (const auto known = kept_.find(url); known != kept_.end()) {
        bytes_ -= textBytes(known->second);
        kept_.erase(known);
    }
    const std::size_t bytes = textBytes(kept);
    if (bytes > kMaxKeptBytes - bytes_) {
        return;
    }
    bytes_ += bytes;
    kept_.emplace(url, std::move(kept));
}

}  // namespace perchlight
