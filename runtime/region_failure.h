// The first exception raised inside an OpenMP parallel region, carried out
// of it. An exception that leaves a region's thread ends the process
// (std::terminate: "terminate called after throwing", status 134); each
// iteration's work runs through run() instead, and the thread that started
// the region raises the kept exception once the region has ended, where a
// caller can turn std::bad_alloc into "out of memory".
//
//   region_failure failure;
//   #pragma omp parallel for
//   for (...) failure.run([&] { ... });
//   failure.raise();
//
// After a failure the remaining iterations still run (an OpenMP loop cannot
// be left early); work that is long or that would fail the same way checks
// failed() first.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>

namespace lagscan {

class region_failure {
 public:
  template <typename Work>
  void run(Work&& work) noexcept {
    try {
      work();
    } catch (...) {
      keep(std::current_exception());
    }
  }
  bool failed() const noexcept { return failed_.load(std::memory_order_relaxed); }
  // On the thread that started the region, after it: the first exception
  // kept, raised again; nothing when there was none.
  void raise() const {
    if (first_) std::rethrow_exception(first_);
  }

 private:
  void keep(std::exception_ptr raised) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!first_) first_ = raised;
    failed_.store(true, std::memory_order_relaxed);
  }

  std::mutex mutex_;  // a mutex, not an atomic wait: see docs/testing.md
  std::exception_ptr first_;
  std::atomic<bool> failed_{false};
};

}  // namespace lagscan
