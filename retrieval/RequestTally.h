#pragma once

#include <atomic>

namespace perchlight {

// Counts the HTTP requests made on behalf of one piece of work (a survey's check of one site)
// across the threads that work on it: each thread that works for it installs the same counter
// for as long as a Scope lives. Requests made on a thread without a counter are not counted.
// Thread-safe.
class RequestTally {
  public:
    using Counter = std::atomic<long>;

    // Installs the counter on the calling thread; the previous one comes back when it goes.
    class Scope {
      public:
        explicit Scope(Counter* counter);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        Counter* previous_;
    };

    // Adds one request to the calling thread's counter, if it has one.
    static void count();
    // The calling thread's counter, or null; handed to threads that work for the same piece.
    static Counter* current();
};

}  // namespace perchlight
