// An exception must not leave the structured block of an OpenMP region: the
// runtime would end the process with std::terminate, and a host of the
// library would lose a std::bad_alloc it could have handled. Each piece of
// work in a region runs through team_failure::run, which catches what it
// throws and keeps the first; the pieces after it are skipped, and the
// caller rethrows the kept exception once the region has ended.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>

namespace lagscan::matrix {

class team_failure {
 public:
  // Runs work() unless a piece has failed already.
  template <class F>
  void run(F&& work) noexcept {
    if (failed()) return;
    try {
      work();
    } catch (...) {
      keep(std::current_exception());
    }
  }
  bool failed() const { return failed_.load(std::memory_order_relaxed); }
  // After the region: throws the first exception a piece threw, if any.
  void rethrow() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void keep(std::exception_ptr failure) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = std::move(failure);
    failed_.store(true, std::memory_order_relaxed);
  }

  std::mutex mutex_;
  std::exception_ptr failure_;
  std::atomic<bool> failed_{false};
};

}  // namespace lagscan::matrix
