// heap_3: the process-wide size-class allocator beneath everything that is
// not a small block (and beneath the small-block pools themselves).
//
// Every request is rounded up to one of 35 power-of-two classes, class k
// holding blocks of 2^(k+1) bytes (2 bytes ... 2^35). Blocks of exactly the
// class size come from the process heap; a freed block is kept in its
// class's block_cache (a LIFO stack) and handed out again, never returned.
//
// Each class has a nestable OpenMP lock that allocate and free only *try*:
// when another thread holds it they bypass the cache and go to the process
// heap, so no thread ever waits in the default mode.
//
// Type map:
//   heap_3       class_table*, flags (bit 0: direct_release), tag
//   class_table  count (35), then the 35 size_class records, class 0 first
//   size_class   heap, lock, cached, cache_capacity, size, entries, ...
//   cache_entry  block address, the tag pushed with it
// Invariants of a size_class: 0 <= cached <= cache_capacity; entries holds
// cache_capacity entries (null when 0); size == 2^(index+1).
#pragma once

#include <omp.h>

#include <atomic>
#include <bit>
#include <cassert>
#include <cstdint>

#include "platform/process_heap.h"

namespace lagscan {

// Process-wide: while bit 0 is set, direct_release frees and the small-block
// pools take their locks. Nothing in the system sets it; tests do.
inline constinit std::atomic<std::uint32_t> locking_switch{0};

class heap_3 {
 public:
  static constexpr std::int32_t class_count = 35;
  static constexpr std::uint64_t largest_class_size = std::uint64_t{1} << 35;
  static constexpr std::uint32_t direct_release = 1;

  struct cache_entry {
    void* block;
    std::uint64_t tag;
  };

  struct size_class {
    platform::heap_handle heap;
    omp_nest_lock_t lock;
    std::int64_t cached;
    std::int64_t cache_capacity;
    std::uint64_t size;
    cache_entry* entries;
    std::uint64_t blocks_in_100_mb;  // 100000000 / size + 1; kept, never read
    std::int32_t index;
  };

  struct class_table {
    std::uint64_t count;
    size_class classes[class_count];
  };

  // The one heap, created on first use and never destroyed. A failed
  // creation is tried again at the next use.
  static heap_3& instance() {
    static heap_3* const heap = create();
    return *heap;
  }

  // A new heap, its own storage from the process heap; a failure gives back
  // what was taken and goes on. instance() makes the one heap with it; tests
  // make their own, to reach its failure paths and to serve others through
  // a heap whose traffic they can see.
  static heap_3* create();

  // A block of class_size(class_of(n)) bytes; never null. n above
  // largest_class_size raises platform::out_of_storage, as exhaustion does.
  // In the sanitizer build only the n bytes asked for are addressable.
  void* allocate(std::uint64_t n);
  // p must come from allocate; null does nothing. Never fails: a cache that
  // cannot grow sends the block back to the process heap.
  void free(void* p) noexcept;

  static constexpr std::uint64_t class_size(std::int32_t c) noexcept { return std::uint64_t{2} << c; }

  // The smallest class whose size is >= n, for 1 <= n <= largest_class_size
  // only: a pure function for sizes already known to be in range.
  // Costs one count of leading zeros and at most two comparisons: no loop,
  // no table.
  static constexpr std::int32_t fitting_class(std::uint64_t n) noexcept {
    assert(n >= 1 && n <= largest_class_size && "fitting_class: the request lies outside heap_3's classes");
    std::int32_t c = static_cast<std::int32_t>(std::bit_width(n)) - 2;  // highest set bit, less one
    if (c < 0) c = 0;
    if (n > class_size(c)) ++c;
    if (n > class_size(c)) ++c;
    return c;
  }

  // The class of a request of any size: fitting_class with the two ends
  // settled. 0 writes one heap_log line and answers class 0; above
  // largest_class_size raises platform::out_of_storage rather than naming a
  // class that does not exist.
  static std::int32_t class_of(std::uint64_t n);

  size_class& class_record(std::int32_t c) noexcept { return table->classes[c]; }

  class_table* table;
  std::uint32_t flags;
  std::uint64_t tag;

 private:
  // Pushes p under the class lock; false when the cache could not grow.
  static bool push(size_class& k, void* p, std::uint64_t tag) noexcept;
};

static_assert(heap_3::fitting_class(1) == 0 &&
              heap_3::fitting_class(heap_3::largest_class_size) == heap_3::class_count - 1);

}  // namespace lagscan
