#pragma once

#include "util/Monitor.h"

namespace perchlight {

// The process-wide lock of the policy reference store, its hint table and the policy cache map.
// Re-entrant. Taken after a page check's maps lock, never before it.
Monitor& retrievalLock();

}  // namespace perchlight
