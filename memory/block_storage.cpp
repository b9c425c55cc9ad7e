#include "memory/block_storage.h"

#include "memory/sanitizer.h"
#include "memory/storage_sources.h"

namespace lagscan::block_storage {
namespace {

std::uint64_t slot_bytes(int slot) { return slot == 0 ? 8 : element_bytes * static_cast<std::uint64_t>(slot); }

// 8 * k, saturated: a count that was negative must reach the heap as a
// request it refuses, not wrap to a small block.
std::uint64_t element_bytes_of(std::uint64_t k) {
  return k > UINT64_MAX / element_bytes ? UINT64_MAX : k * element_bytes;
}

}  // namespace

counters& thread_counters() noexcept {
  thread_local constinit counters c{};
  return c;
}

void* allocate_bytes(std::uint64_t n) {
  storage_sources::ensure_pools();
  counters& c = thread_counters();
  if (n <= largest_pooled_bytes) {
    int slot = slot_for_bytes(n);
    void* p = storage_sources::pool_allocate(slot);
    sanitizer::expose_prefix(p, n, slot_bytes(slot));
    ++c.pool_takes[slot];
    return p;
  }
  void* p = storage_sources::heap_allocate(n);
  ++c.heap_takes;
  return p;
}

void free_bytes(void* p, std::uint64_t n) noexcept {
  counters& c = thread_counters();
  if (n <= largest_pooled_bytes) {
    int slot = slot_for_bytes(n);
    storage_sources::pool_free(slot, p);
    ++c.pool_returns[slot];
    return;
  }
  storage_sources::heap_free(p);
  ++c.heap_returns;
}

void* allocate_elements(std::uint64_t k) {
  if (k <= largest_pooled_elements) return allocate_bytes(k * element_bytes);
  storage_sources::ensure_pools();
  void* p = storage_sources::heap_allocate(element_bytes_of(k));
  ++thread_counters().heap_takes;
  return p;
}

void free_elements(void* p, std::uint64_t k) noexcept {
  if (k <= largest_pooled_elements) {
    free_bytes(p, k * element_bytes);
    return;
  }
  storage_sources::heap_free(p);
  ++thread_counters().heap_returns;
}

std::uint64_t round_bytes(std::uint64_t n) {
  storage_sources::ensure_pools();
  if (n <= largest_pooled_bytes) return n;
  return heap_3::class_size(heap_3::class_of(n));
}

std::uint64_t round_elements(std::uint64_t k) {
  storage_sources::ensure_pools();
  if (k <= largest_pooled_elements) return k;
  return heap_3::class_size(heap_3::class_of(element_bytes_of(k))) / element_bytes;
}

}  // namespace lagscan::block_storage
