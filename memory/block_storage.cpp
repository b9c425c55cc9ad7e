#include "memory/block_storage.h"

#include "memory/sanitizer.h"
#include "memory/storage_sources.h"
#ifdef LAGSCAN_TEST_INSTRUMENTS
#include "memory/storage_counters.h"
#endif

namespace lagscan::block_storage {
namespace {

std::uint64_t slot_bytes(int slot) { return slot == 0 ? 8 : element_bytes * static_cast<std::uint64_t>(slot); }

// 8 * k, saturated: a count that was negative must reach the heap as a
// request it refuses, not wrap to a small block.
std::uint64_t element_bytes_of(std::uint64_t k) {
  return k > UINT64_MAX / element_bytes ? UINT64_MAX : k * element_bytes;
}

// Counting for tests, in the instrumented copy of this file only; in the
// shipped program these are empty and the hot paths carry nothing of it.
#ifdef LAGSCAN_TEST_INSTRUMENTS
void count_pool_take(int slot) noexcept { ++thread_counters().pool_takes[slot]; }
void count_pool_return(int slot) noexcept { ++thread_counters().pool_returns[slot]; }
void count_heap_take(std::uint64_t n) noexcept {
  ++thread_counters().heap_takes;
  ++thread_counters().heap_class_takes[heap_3::fitting_class(n)];
}
void count_heap_return() noexcept { ++thread_counters().heap_returns; }
#else
constexpr void count_pool_take(int) noexcept {}
constexpr void count_pool_return(int) noexcept {}
constexpr void count_heap_take(std::uint64_t) noexcept {}
constexpr void count_heap_return() noexcept {}
#endif

}  // namespace

#ifdef LAGSCAN_TEST_INSTRUMENTS
counters& thread_counters() noexcept {
  thread_local constinit counters c{};
  return c;
}
#endif

void* allocate_bytes(std::uint64_t n) {
  storage_sources::ensure_pools();
  if (n <= largest_pooled_bytes) {
    int slot = slot_for_bytes(n);
    void* p = storage_sources::pool_allocate(slot);
    sanitizer::expose_prefix(p, n, slot_bytes(slot));
    count_pool_take(slot);
    return p;
  }
  void* p = storage_sources::heap_allocate(n);
  count_heap_take(n);
  return p;
}

void free_bytes(void* p, std::uint64_t n) noexcept {
  if (n <= largest_pooled_bytes) {
    int slot = slot_for_bytes(n);
    storage_sources::pool_free(slot, p);
    count_pool_return(slot);
    return;
  }
  storage_sources::heap_free(p);
  count_heap_return();
}

void* allocate_elements(std::uint64_t k) {
  if (k <= largest_pooled_elements) return allocate_bytes(k * element_bytes);
  storage_sources::ensure_pools();
  void* p = storage_sources::heap_allocate(element_bytes_of(k));
  count_heap_take(element_bytes_of(k));
  return p;
}

void free_elements(void* p, std::uint64_t k) noexcept {
  if (k <= largest_pooled_elements) {
    free_bytes(p, k * element_bytes);
    return;
  }
  storage_sources::heap_free(p);
  count_heap_return();
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
