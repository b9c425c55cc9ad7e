// Inside platform/ only: the process heap's counting and failure injection
// for tests, shared by both systems' implementations. They exist in the
// instrumented copy that test programs link (LAGSCAN_TEST_INSTRUMENTS); in
// the shipped program they are empty and cost nothing.
#pragma once

#include <cstdint>

#include "platform/process_heap.h"

namespace lagscan::platform::instruments {

#ifdef LAGSCAN_TEST_INSTRUMENTS
// True once, when fail_allocation_after's count has run out.
bool take_injected_failure() noexcept;
// The limit set by limit_backable_memory, or 0 when none is set.
std::uint64_t backable_memory_for_tests() noexcept;
inline void count_allocation() noexcept { ++thread_heap_calls().allocations; }
inline void count_release() noexcept { ++thread_heap_calls().releases; }
#else
constexpr bool take_injected_failure() noexcept { return false; }
constexpr std::uint64_t backable_memory_for_tests() noexcept { return 0; }
constexpr void count_allocation() noexcept {}
constexpr void count_release() noexcept {}
#endif

}  // namespace lagscan::platform::instruments
