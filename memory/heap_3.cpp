#include "memory/heap_3.h"

#include <omp.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "memory/sanitizer.h"
#include "platform/contract.h"
#include "platform/files.h"

namespace lagscan {
namespace {

// The log file's name taken literally, backslashes and all: the platform
// reads them as separators (the file t0.txt in the folder x8 at the root).
constexpr const char* heap_log_path = "\\x8\\t0.txt";
constexpr const char* zero_request_message = "heap_3 error get_h";

void write_heap_log_line() noexcept {
#pragma omp critical(lagscan_heap_log)
  {
    static const double t_first = omp_get_wtime();
    static double t_prev = omp_get_wtime();
    static std::int32_t counter = 0;
    double dt = omp_get_wtime() - t_prev;
    t_prev = omp_get_wtime();
    // Opened once, truncated, never closed; a log that cannot be opened
    // loses its lines but the allocation goes on.
    static std::FILE* const file = platform::open_file(heap_log_path, "w");
    if (file != nullptr) {
      std::fprintf(file, "%1d ", omp_get_thread_num());
      std::fprintf(file, "%6d ", counter);
      std::fprintf(file, "%s ", zero_request_message);
      std::fprintf(file, " t= %-1.4f", dt);
      std::fprintf(file, " t0= %-1.4f", omp_get_wtime() - t_first);
      std::fprintf(file, "\n");
      std::fflush(file);
    }
    ++counter;
  }
}

// The bytes of a block handed out for a request of n that the sanitizer
// lets the caller touch. At least one, so that a live block never starts
// poisoned and a second free of it can be told apart.
std::uint64_t exposed_bytes(std::uint64_t n) { return n == 0 ? 1 : n; }

// Entry counts of a growing cache: 16, 48, 112, 240, ...
std::int64_t next_cache_capacity(std::int64_t capacity) { return 2 * capacity + 16; }

}  // namespace

std::int32_t heap_3::class_of(std::uint64_t n) {
  if (n == 0) [[unlikely]] {
    write_heap_log_line();
    return 0;
  }
  if (n > largest_class_size) [[unlikely]] throw platform::out_of_storage();
  return fitting_class(n);
}

heap_3* heap_3::create() {
  // The heap's own storage comes from the process heap: heap_3 cannot serve
  // itself before it exists.
  void* object_block = platform::heap_allocate(sizeof(heap_3));
  auto* heap = ::new (object_block) heap_3{};
  void* table_block = nullptr;
  try {
    table_block = platform::heap_allocate(sizeof(class_table));
  } catch (...) {
    platform::heap_release(object_block);
    throw;
  }
  auto* table = ::new (table_block) class_table{};
  table->count = class_count;
  for (std::int32_t k = 0; k < class_count; ++k) omp_init_nest_lock(&table->classes[k].lock);
  for (std::int32_t k = 0; k < class_count; ++k) {
    size_class& c = table->classes[k];
    c.heap = platform::process_heap();
    c.index = k;
    c.cached = 0;
    c.cache_capacity = 0;
    c.size = class_size(k);
    c.blocks_in_100_mb = 100000000 / c.size + 1;
  }
  heap->table = table;
  heap->flags = 0;
  heap->tag = 0;
  return heap;
}

void* heap_3::allocate(std::uint64_t n) {
  size_class& k = table->classes[class_of(n)];
  if (omp_test_nest_lock(&k.lock) != 0) {
    if (k.cached > 0) {
      void* p = k.entries[--k.cached].block;
      omp_unset_nest_lock(&k.lock);
      sanitizer::unpoison(p, exposed_bytes(n));
      return p;
    }
    omp_unset_nest_lock(&k.lock);
  }
  void* p = platform::heap_allocate(k.size);
  sanitizer::expose_prefix(p, exposed_bytes(n), k.size);
  return p;
}

bool heap_3::push(size_class& k, void* p, std::uint64_t tag) noexcept {
  if (k.cached == k.cache_capacity) [[unlikely]] {
    std::int64_t grown = next_cache_capacity(k.cache_capacity);
    cache_entry* entries = nullptr;
    try {
      entries = static_cast<cache_entry*>(
          platform::heap_allocate(static_cast<std::uint64_t>(grown) * sizeof(cache_entry)));
    } catch (...) {
      return false;
    }
    if (k.cached != 0) {
      std::memcpy(entries, k.entries, static_cast<std::size_t>(k.cached) * sizeof(cache_entry));
    }
    if (k.cache_capacity != 0) platform::heap_release(k.entries);
    k.entries = entries;
    k.cache_capacity = grown;
  }
  k.entries[k.cached] = {p, tag};
  ++k.cached;
  return true;
}

void heap_3::free(void* p) noexcept {
  if (p == nullptr) return;
  // Every block was allocated with exactly its class size.
  std::uint64_t size = platform::heap_block_size(p);
  if (!std::has_single_bit(size) || size > largest_class_size) [[unlikely]] {
    platform::stop_on_contract_violation("heap_3::free of a block that heap_3 did not allocate");
  }
  size_class& k = table->classes[fitting_class(size)];
  if (sanitizer::is_poisoned(p)) [[unlikely]] {
    platform::stop_on_contract_violation("heap_3::free of a block that is already free");
  }
  if ((flags & direct_release) == 0) {
    if (omp_test_nest_lock(&k.lock) != 0) {
      // Poisoned before it is visible in the cache: once the lock is
      // released another thread may take the block and expose it.
      sanitizer::poison(p, k.size);
      bool cached = push(k, p, tag);
      omp_unset_nest_lock(&k.lock);
      if (cached) return;
    }
    platform::heap_release(p);
    return;
  }
  if ((locking_switch.load(std::memory_order_relaxed) & 1) != 0) {
    omp_set_nest_lock(&k.lock);
    platform::heap_release(p);
    omp_unset_nest_lock(&k.lock);
    return;
  }
  platform::heap_release(p);
}

}  // namespace lagscan
