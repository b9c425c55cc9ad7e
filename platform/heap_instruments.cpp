// Compiled into the test programs' instrumented process heap only.
#include "platform/heap_instruments.h"

#include <atomic>

namespace lagscan::platform {
namespace {

thread_local constinit std::int64_t successes_before_failure = -1;
constinit std::atomic<std::uint64_t> backable_limit{0};

}  // namespace

heap_calls& thread_heap_calls() noexcept {
  thread_local constinit heap_calls calls{};
  return calls;
}

void fail_allocation_after(std::int64_t successes) noexcept { successes_before_failure = successes; }

void limit_backable_memory(std::uint64_t bytes) noexcept { backable_limit.store(bytes, std::memory_order_relaxed); }

namespace instruments {

bool take_injected_failure() noexcept {
  if (successes_before_failure < 0) return false;
  if (successes_before_failure > 0) {
    --successes_before_failure;
    return false;
  }
  successes_before_failure = -1;
  return true;
}

std::uint64_t backable_memory_for_tests() noexcept { return backable_limit.load(std::memory_order_relaxed); }

}  // namespace instruments
}  // namespace lagscan::platform
