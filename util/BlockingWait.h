#pragma once

namespace perchlight {

// Tells the pool that runs the calling thread when that thread waits for something other than
// its next piece of work (a download, another thread's fetch), so that the pool can let another
// thread work meanwhile. A pool installs its listener on each of its threads; a wait marks
// itself with a BlockingWait for as long as it lasts. Marks nested on one thread count once.
// Costs a thread-local look-up on a thread without a listener.
class BlockingWait {
  public:
    class Listener {
      public:
        // On the waiting thread; must not throw and must not wait.
        virtual void waitBegins() = 0;
        virtual void waitEnds() = 0;

      protected:
        ~Listener() = default;
    };

    // The calling thread's listener, or none.
    static void setListener(Listener* listener);

    BlockingWait();
    ~BlockingWait();
    BlockingWait(const BlockingWait&) = delete;
    BlockingWait& operator=(const BlockingWait&) = delete;

  private:
    bool counted_ = false;          // a listener was there: the thread's depth counts this mark
    Listener* listener_ = nullptr;  // told, as the outermost mark of its thread
};

}  // namespace perchlight
