#include "retrieval/RetrievalLock.h"

namespace perchlight {

Monitor& retrievalLock() {
    static Monitor lock;
    return lock;
}

}  // namespace perchlight
