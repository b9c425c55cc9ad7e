// The process heap: the one source of memory beneath our own allocator, and
// the only code that calls the system allocator (the Windows process heap, or
// malloc on POSIX systems).
//
// Contract:
//  - heap_allocate(n) returns a block of exactly n usable bytes, aligned to
//    16, and never null: exhaustion throws out_of_storage. Requests above
//    largest_request are refused without asking the system, so the answer
//    is the same whatever allocator (or sanitizer) lies beneath.
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

// Calls made by the calling thread, so that tests can see whether a request
// reached the process heap.
struct heap_calls {
  std::uint64_t allocations;
  std::uint64_t releases;
};
heap_calls& thread_heap_calls() noexcept;

}  // namespace lagscan::platform
