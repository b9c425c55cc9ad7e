// The routing rule of all container storage. A request is routed by its size
// (or element count) alone: up to 264 bytes to small-block pool slot
// ceil(n/8) (slot 0 for n = 0), larger to heap_3. Blocks carry no header, so
// every block must be freed with the same size or count it was obtained
// with; containers record that capacity for the purpose.
//
// In the sanitizer build a pooled block is addressable for the n bytes asked
// for only, not for the slack of its slot.
#pragma once

#include <cstdint>

namespace lagscan::block_storage {

inline constexpr std::uint64_t largest_pooled_bytes = 264;
inline constexpr std::uint64_t largest_pooled_elements = 33;
inline constexpr std::uint64_t element_bytes = 8;

// Pool slot for n bytes: 0 for 0, else ceil(n/8); only for n <= 264.
constexpr int slot_for_bytes(std::uint64_t n) {
  return n == 0 ? 0 : static_cast<int>((n - 1) / 8 + 1);
}

void* allocate_bytes(std::uint64_t n);
void free_bytes(void* p, std::uint64_t n) noexcept;
void* allocate_elements(std::uint64_t k);
void free_elements(void* p, std::uint64_t k) noexcept;

// The capacity a container records for a request of n bytes / k elements:
// the request itself when it is pooled, else heap_3's class size. Beyond
// heap_3's largest class they raise platform::out_of_storage.
std::uint64_t round_bytes(std::uint64_t n);
std::uint64_t round_elements(std::uint64_t k);

}  // namespace lagscan::block_storage
