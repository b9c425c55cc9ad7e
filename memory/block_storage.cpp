#include "memory/block_storage.h"

#include "memory/storage_sources.h"

namespace lagscan::block_storage {

counters& thread_counters() noexcept {
  thread_local counters c{};
  return c;
}

void* allocate_bytes(std::uint64_t n) {
  storage_sources::ensure_pools();
  counters& c = thread_counters();
  if (n <= largest_pooled_bytes) {
    int slot = slot_for_bytes(n);
    void* p = storage_sources::pool_allocate(slot);
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
  // 8 * k may wrap for counts that were negative; saturate so the heap
  // refuses the request instead of serving a small block.
  std::uint64_t bytes = k > UINT64_MAX / element_bytes ? UINT64_MAX : k * element_bytes;
  void* p = storage_sources::heap_allocate(bytes);
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
  return n <= largest_pooled_bytes ? n : class_size(n);
}

std::uint64_t round_elements(std::uint64_t k) {
  storage_sources::ensure_pools();
  if (k <= largest_pooled_elements) return k;
  if (k > (UINT64_MAX >> 4)) return UINT64_MAX;
  return class_size(k * element_bytes) / element_bytes;
}

}  // namespace lagscan::block_storage
