#pragma once

#include <mutex>

namespace perchlight {

// The process-wide lock of the policy reference store, its hint table and the policy cache map.
// Re-entrant; nothing waits on it. Taken after a page check's maps lock, never before it.
std::recursive_mutex& retrievalLock();

// Holds the retrieval lock for the lifetime of the guard.
using RetrievalGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace perchlight
