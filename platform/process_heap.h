// The process heap: the one source of memory beneath our own allocator, and
// the only code that calls the system allocator (the Windows process heap, or
// malloc on POSIX systems).
//
// Contract:
//  - heap_allocate(n) returns a block of exactly n usable bytes, aligned to
//    16, and never null: exhaustion throws out_of_storage. Requests above
//    largest_request are refused without asking the system, so the answer
//    is the same whatever allocator (or sanitizer) lies beneath.
//  - On POSIX systems, requests larger than the memory the machine can back
//    are refused the same way (see backable_memory in posix/process_heap.cpp):
//    where the system overcommits, such a block would be granted and
//    filling it would bring the out-of-memory killer instead of an error.
//  - heap_block_size(p) answers exactly the n that p was allocated with. The
//    Windows process heap answers that itself; malloc's usable size may be
//    larger, so on POSIX systems the size is recorded with the block.
//  - heap_release(p) gives the block back; null is ignored.
//  - Safe for concurrent use from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace lagscan::platform {

// Derived from std::bad_alloc so that it also honours the contract of the
// global operator new, which passes it on.
class out_of_storage : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "out of storage"; }
};

inline constexpr std::uint64_t largest_request = std::uint64_t{1} << 40;

// Names the heap that heap_allocate serves; there is only one.
using heap_handle = const void*;
heap_handle process_heap() noexcept;

void* heap_allocate(std::uint64_t n);
std::uint64_t heap_block_size(const void* p) noexcept;
void heap_release(void* p) noexcept;

// Test builds only: the instrumented copy of this heap that test programs
// link (the lagscan_test_instruments objects) counts its calls and can be
// made to fail. The shipped program's copy does neither and does not define
// these, so a call from shipped code fails to link.
//
// Calls made by the calling thread, so that tests can see whether a request
// reached the process heap.
struct heap_calls {
  std::uint64_t allocations;
  std::uint64_t releases;
};
heap_calls& thread_heap_calls() noexcept;
// Makes the calling thread's heap_allocate fail once, as exhaustion does,
// after `successes` more allocations have succeeded; a negative count
// disarms it. Reaches the paths that only exhausted storage takes.
void fail_allocation_after(std::int64_t successes) noexcept;
// Takes bytes as the memory the machine can back (0: the machine's own), so
// that the refusal of requests beyond it can be shown on any machine. POSIX
// systems only; the Windows heap checks no such limit.
void limit_backable_memory(std::uint64_t bytes) noexcept;

}  // namespace lagscan::platform
