#include "util/BlockingWait.h"

namespace perchlight {
namespace {

thread_local BlockingWait::Listener* threadListener = nullptr;
thread_local int threadDepth = 0;

}  // namespace

void BlockingWait::setListener(Listener* listener) {
    threadListener = listener;
}

BlockingWait::BlockingWait() : counted_(threadListener != nullptr) {
    if (counted_ && threadDepth++ == 0) {
        listener_ = threadListener;
        listener_->waitBegins();
    }
}

BlockingWait::~BlockingWait() {
    if (counted_) {
        --threadDepth;
    }
    if (listener_ != nullptr) {
        listener_->waitEnds();
    }
}

}  // namespace perchlight
