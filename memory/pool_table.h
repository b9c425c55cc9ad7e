// The small-block pools: every block of up to 264 bytes that block_storage
// hands out comes from one of 33 block_pools with the block sizes 8, 16,
// ..., 264, all reached through the process-wide pool_table.
//
// A pool cuts its blocks out of chunks. A chunk is one data block from
// heap_3 holding blocks_per_chunk blocks, a bitmap of the blocks in use and
// a use count. Allocation takes the lowest free block of the last chunk on
// the open_list; free finds the block's chunk by binary search over the
// chunk_list (sorted by data address) and gives the chunk's storage back to
// heap_3 as soon as its last block is freed.
//
// Type map:
//   pool_table  slots (slot i at slots[i]), capacity, count (34), base (0)
//   block_pool  chunk_list, open_list, lock, block_size, span,
//               blocks_per_chunk, bitmap_words
//   chunk       bitmap, pool, data, used
// Invariants of a pool (re-counted by bookkeeping_fault):
//   for every chunk: 1 <= used <= blocks_per_chunk, used == popcount(bitmap),
//     no bit at or beyond blocks_per_chunk is set;
//   a chunk is on the open_list (once) exactly when used < blocks_per_chunk;
//   the chunk_list is strictly ascending by data address, and the open_list
//     holds nothing that is not on it;
//   open_list.capacity >= chunk_list.count, so a free never has to grow it.
//
// The pools take their locks only while bit 0 of locking_switch is set,
// which nothing in the system does: a pool is used by one thread at a time.
#pragma once

#include <omp.h>

#include <bit>
#include <cassert>
#include <cstdint>

#include "memory/heap_3.h"
#include "memory/heap_array.h"
#include "memory/sanitizer.h"

namespace lagscan {

class block_pool;

struct chunk {
  std::uint64_t* bitmap;  // bit j of word w set: block 64*w + j in use
  block_pool* pool;
  char* data;             // block i at data + i * block_size
  std::int32_t used;      // blocks in use
};

class block_pool final {
 public:
  static constexpr std::uint64_t largest_bitmap_words = 4;

  // Blocks per chunk: as many blocks as fit in the heap_3 class of 100
  // blocks, so a chunk's data block wastes less than one block of its class.
  static constexpr std::uint64_t blocks_per_chunk_for(std::int64_t block_size) noexcept {
    auto size = static_cast<std::uint64_t>(block_size);
    std::uint64_t blocks = heap_3::class_size(heap_3::fitting_class(100 * size)) / size;
    assert(blocks >= 100 && blocks <= 64 * largest_bitmap_words && "blocks_per_chunk_for: outside the bitmap");
    return blocks;
  }
  static constexpr std::uint64_t bitmap_words_for(std::uint64_t blocks) noexcept {
    return blocks / 64 + (blocks % 64 != 0 ? 1 : 0);
  }
  // offset / block_size for any offset within a chunk, by a multiplication:
  // with reciprocal = 2^32 / block_size + 1 the error term stays below one
  // block for offsets under 2^32 / block_size, far beyond any chunk. The
  // division on the free path cost as much as the rest of it.
  static constexpr std::uint64_t reciprocal_of(std::int64_t block_size) noexcept {
    return (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(block_size) + 1;
  }
  static constexpr std::uint64_t block_index(std::uint64_t offset, std::uint64_t reciprocal) noexcept {
    return (offset * reciprocal) >> 32;
  }

  explicit block_pool(std::int64_t block_size) noexcept;
  // Gives back every chunk, both lists and the lock. Only undone tables and
  // tests' own pools are torn down; the process-wide pools never are.
  ~block_pool();
  block_pool(const block_pool&) = delete;
  block_pool& operator=(const block_pool&) = delete;

  // A free block of block_size bytes; never null.
  virtual void* allocate();
  // p must be a block of this pool that is in use; a pointer in no chunk,
  // off a block boundary or to a free block stops the process.
  virtual void free(void* p) noexcept;

  // Null when the invariants above hold, else what is wrong.
  const char* bookkeeping_fault() const noexcept;
  bool is_valid() const noexcept { return bookkeeping_fault() == nullptr; }

  heap_array<chunk*> chunk_list;
  heap_array<chunk*> open_list;
  omp_nest_lock_t lock;
  std::int64_t block_size;
  std::int64_t span;  // offset of a chunk's last block
  std::uint64_t blocks_per_chunk;
  std::uint64_t bitmap_words;
  std::uint64_t reciprocal;  // reciprocal_of(block_size)

 private:
  void* take_block(chunk& c) noexcept;
  std::int32_t chunk_index_of(const void* p) const noexcept;
  [[gnu::cold]] [[noreturn]] static void stop(const char* message) noexcept;
  // The rare paths: a chunk made or given back.
  [[gnu::noinline]] void* start_chunk();
  chunk* create_chunk();
  void destroy_chunk(chunk* c) noexcept;
  [[gnu::noinline]] void release_chunk(std::int32_t index) noexcept;
};

// The hot paths are here, in the header, so that block_storage's routing
// compiles them in place.

namespace pool_detail {

// Holds a pool's lock for the length of an operation, but only while the
// locking_switch asks for it.
class switched_lock {
 public:
  explicit switched_lock(omp_nest_lock_t& lock) noexcept
      : held_((locking_switch.load(std::memory_order_relaxed) & 1) != 0 ? &lock : nullptr) {
    if (held_ != nullptr) [[unlikely]] omp_set_nest_lock(held_);
  }
  ~switched_lock() {
    if (held_ != nullptr) [[unlikely]] omp_unset_nest_lock(held_);
  }
  switched_lock(const switched_lock&) = delete;
  switched_lock& operator=(const switched_lock&) = delete;

 private:
  omp_nest_lock_t* held_;
};

}  // namespace pool_detail

inline void* block_pool::allocate() {
  pool_detail::switched_lock guard(lock);
  void* p = open_list.count != 0 ? take_block(*open_list.buffer[open_list.count - 1]) : start_chunk();
  sanitizer::unpoison(p, static_cast<std::uint64_t>(block_size));
  return p;
}

// The lowest free block of an open chunk. An open chunk has a clear bit
// among its first blocks_per_chunk bits, so the scan ends within its words.
inline void* block_pool::take_block(chunk& c) noexcept {
  if (static_cast<std::uint64_t>(++c.used) == blocks_per_chunk) --open_list.count;  // c is the last entry
  std::uint64_t* words = c.bitmap;
  std::int32_t w = 0;
  while (words[w] == ~std::uint64_t{0}) ++w;
  std::int32_t j = std::countr_one(words[w]);
  words[w] |= std::uint64_t{1} << j;
  std::int32_t i = 64 * w + j;
  return c.data + i * static_cast<std::int32_t>(block_size);
}

inline void block_pool::free(void* p) noexcept {
  pool_detail::switched_lock guard(lock);
  std::int32_t index = chunk_index_of(p);
  chunk& c = *chunk_list.buffer[index];
  auto offset = static_cast<std::uint64_t>(static_cast<char*>(p) - c.data);
  auto size = static_cast<std::uint64_t>(block_size);
  auto i = static_cast<std::uint32_t>(block_index(offset, reciprocal));
  if (i * size != offset) [[unlikely]] stop("block_pool::free of a pointer inside a block");
  std::uint64_t& word = c.bitmap[i / 64];
  std::uint64_t bit = std::uint64_t{1} << (i % 64);
  if ((word & bit) == 0) [[unlikely]] stop("block_pool::free of a block that is not in use");
  if (c.used == 1) [[unlikely]] {
    release_chunk(index);  // the block goes with its chunk; its bit is not cleared
    return;
  }
  // Never grows the list: it has room for every chunk.
  if (static_cast<std::uint64_t>(c.used) == blocks_per_chunk) open_list.insert_at(&c, open_list.count);
  --c.used;
  word &= ~bit;
  sanitizer::poison(p, size);
}

// Binary search over the chunks sorted by data address (compared unsigned);
// the chunk holding p, if any, always lies within [lo, hi].
inline std::int32_t block_pool::chunk_index_of(const void* p) const noexcept {
  std::int32_t n = chunk_list.count;
  if (n == 0) [[unlikely]] stop("block_pool::free on a pool that has no chunks");
  auto at = reinterpret_cast<std::uintptr_t>(p);
  auto last_block = static_cast<std::uintptr_t>(span);
  auto data = [this](std::int32_t k) { return reinterpret_cast<std::uintptr_t>(chunk_list.buffer[k]->data); };
  std::int32_t lo = 0;
  std::int32_t hi = n - 1;
  while (hi - lo > 1) {
    std::int32_t mid = lo + (hi - lo) / 2;
    if (data(mid) + last_block >= at) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  if (data(hi) <= at && at <= data(hi) + last_block) return hi;
  if (lo != hi && data(lo) <= at && at <= data(lo) + last_block) return lo;
  stop("block_pool::free of a pointer that lies in no chunk of the pool");
}

class pool_table {
 public:
  static constexpr std::int32_t slot_count = 34;
  static constexpr std::int64_t largest_pool_block_size = 264;

  // The table, created on first use and never destroyed.
  static pool_table& instance() {
    static pool_table* const table = create(heap_3::instance());
    return *table;
  }

  // A new table with its 33 pools, all storage from heap. A failure tears
  // down the pools built so far, frees the slot array and the table and goes
  // on. instance() makes the one table with it; tests make their own.
  static pool_table* create(heap_3& heap);
  // Gives back a table that create made and whose pools hold no chunks:
  // the process-wide table never is, tests' own tables are.
  static void destroy(pool_table* table, heap_3& heap) noexcept;

  // The pool for blocks of 8 * s bytes (s = 1 ... 33); slot 0 is slot 1's.
  block_pool& slot(std::int32_t s) noexcept { return *slots[s]; }

  block_pool** slots;  // the slot array's block, less base elements
  std::int32_t capacity;
  std::int32_t count;
  std::int32_t base;

 private:
  void resize_slots(std::int32_t n, heap_3& heap);
  void tear_down_pools(heap_3& heap) noexcept;
};

}  // namespace lagscan
