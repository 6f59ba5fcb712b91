#include "retrieval/RetrievalLock.h"

namespace perchlight {

std::recursive_mutex& retrievalLock() {
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace perchlight
