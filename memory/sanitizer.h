// Poisoning for the sanitizer build. heap_3 keeps freed blocks and the pools
// keep free blocks inside live chunks, so the sanitizer's own allocator never
// sees them freed; we tell it ourselves which bytes are out of bounds:
//  - a block in a heap_3 cache is poisoned whole;
//  - a free block of a pool chunk is poisoned whole;
//  - a block handed out is addressable for the bytes asked for only, so an
//    overrun into a class's or slot's slack is reported too.
// In other builds every function here is empty.
#pragma once

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define LAGSCAN_ASAN 1
#endif

namespace lagscan::sanitizer {

#if defined(LAGSCAN_ASAN)
inline constexpr bool active = true;
inline void poison(const void* p, std::uint64_t n) noexcept { ASAN_POISON_MEMORY_REGION(p, n); }
inline void unpoison(const void* p, std::uint64_t n) noexcept { ASAN_UNPOISON_MEMORY_REGION(p, n); }
inline bool is_poisoned(const void* p) noexcept { return __asan_address_is_poisoned(p) != 0; }
#else
inline constexpr bool active = false;
inline void poison(const void*, std::uint64_t) noexcept {}
inline void unpoison(const void*, std::uint64_t) noexcept {}
inline bool is_poisoned(const void*) noexcept { return false; }
#endif

// Makes the first `used` bytes of a block of `size` bytes addressable and the
// rest not.
inline void expose_prefix(void* block, std::uint64_t used, std::uint64_t size) noexcept {
  if constexpr (active) {
    unpoison(block, used);
    if (used < size) poison(static_cast<char*>(block) + used, size - used);
  }
}

}  // namespace lagscan::sanitizer
