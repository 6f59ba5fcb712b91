#include "retrieval/RequestTally.h"

namespace perchlight {
namespace {

thread_local RequestTally::Counter* threadCounter = nullptr;

}  // namespace

RequestTally::Scope::Scope(Counter* counter) : previous_(threadCounter) {
    threadCounter = counter;
}

RequestTally::Scope::~Scope() {
    threadCounter = previous_;
}

void RequestTally::count() {
    if (threadCounter != nullptr) {
        threadCounter->fetch_add(1, std::memory_order_relaxed);
    }
}

RequestTally::Counter* RequestTally::current() {
    return threadCounter;
}

}  // namespace perchlight
