// The process heap: the one source of memory beneath our own allocator.
//
// Contract:
//  - allocate(n) returns a block of exactly n usable bytes, aligned to 16,
//    and never null: exhaustion throws out_of_storage.
//  - block_size(p) answers exactly the n that p was allocated with (the
//    system allocator's usable size may be larger, so the size is recorded
//    with the block).
//  - release(p) gives the block back; null is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

namespace lagscan::platform {

class out_of_storage : public std::exception {
 public:
  const char* what() const noexcept override { return "out of storage"; }
};

void* heap_allocate(std::uint64_t n);
std::uint64_t heap_block_size(const void* p) noexcept;
void heap_release(void* p) noexcept;

}  // namespace lagscan::platform
