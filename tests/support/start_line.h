// Holds threads until all of them have arrived, so that they enter the code
// under test together.
//
// A mutex and a condition variable, not the standard latch: the Windows
// build runs under wine, where the atomic wait behind the latch, the barrier
// and the semaphores of libstdc++ 12 (mingw-w64) can lose a wake-up and leave
// every thread asleep for good. tests/check_no_atomic_waits.cmake keeps them
// out.
#pragma once

#include <condition_variable>
#include <mutex>

namespace lagscan::testing {

class start_line {
 public:
  explicit start_line(int threads) : waiting_(threads) {}

  void arrive_and_wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    if (--waiting_ == 0) {
      all_here_.notify_all();
      return;
    }
    all_here_.wait(hold, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable all_here_;
  int waiting_;
};

}  // namespace lagscan::testing
