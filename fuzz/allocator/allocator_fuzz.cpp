// Random sequences of takes and returns of random sizes through every door
// of the allocator: block_storage's byte and element routes, heap_3
// directly and the pools of the pool_table directly, with the pools'
// locking switched on and off between steps.
//
// Invariants:
//  - a block is aligned to 8 bytes, and no two live blocks overlap;
//  - a block keeps the pattern written into all its requested bytes until it
//    is returned (checked on return, for one random live block after every
//    step, and for all at the end);
//  - after every step every pool passes its own bookkeeping check
//    (used == bits set, the open_list holds exactly the open chunks, the
//    chunk_list ascends), and every heap_3 class has 0 <= cached <=
//    cache_capacity;
//  - once the sequence has returned everything, every pool has as many
//    blocks in use as before it, and block_storage got back every block it
//    handed out.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "memory/block_storage.h"
#include "memory/storage_counters.h"
#include "memory/heap_3.h"
#include "memory/pool_table.h"
#include "support/check.h"

namespace lagscan::fuzz {
namespace {

enum class door { bytes, elements, heap, pool };

struct live_block {
  char* p;
  std::uint64_t n;  // bytes asked for: the only ones that may be touched
  door through;
  std::uint64_t request;  // n, or the element count, or the pool slot
  std::uint8_t seed;
};

constexpr std::int32_t first_slot = 1;  // slot 0 is slot 1's pool
constexpr std::int32_t last_slot = pool_table::slot_count - 1;
constexpr std::uint64_t every_pool = ~std::uint64_t{0};

// A block's pattern: byte i holds cycle((seed + i) mod 251), a period that
// no power-of-two block size shares. Written and compared a tile at a time.
constexpr std::size_t period = 251;
constexpr std::size_t tile = 1 << 16;

const unsigned char* pattern_tiles() {
  static const auto* tiles = [] {
    static unsigned char bytes[tile + period];
    for (std::size_t j = 0; j < sizeof bytes; ++j) bytes[j] = static_cast<unsigned char>((j % period) * 167 + 13);
    return bytes;
  }();
  return tiles;
}

// Visits [from, to) of b's pattern tile by tile: what(offset, expected, count).
template <class Visit>
void over_pattern(const live_block& b, std::uint64_t from, std::uint64_t to, Visit what) {
  for (std::uint64_t i = from; i < to;) {
    std::uint64_t count = std::min<std::uint64_t>(to - i, tile);
    what(i, pattern_tiles() + (b.seed + i) % period, count);
    i += count;
  }
}

void fill(const live_block& b) {
  over_pattern(b, 0, b.n, [&](std::uint64_t i, const unsigned char* expected, std::uint64_t count) {
    std::memcpy(b.p + i, expected, count);
  });
}

void check_pattern(const live_block& b, std::uint64_t from, std::uint64_t to) {
  over_pattern(b, from, to, [&](std::uint64_t i, const unsigned char* expected, std::uint64_t count) {
    FUZZ_CHECK(std::memcmp(b.p + i, expected, count) == 0,
               "bytes from " + std::to_string(i) + " of a live block of " + std::to_string(b.n) + " changed");
  });
}

void check_pattern(const live_block& b) { check_pattern(b, 0, b.n); }

std::int64_t blocks_in_use(const block_pool& pool) {
  std::int64_t used = 0;
  for (std::int32_t k = 0; k < pool.chunk_list.count; ++k) used += pool.chunk_list.buffer[k]->used;
  return used;
}

std::uint64_t storage_blocks_out() { return block_storage::thread_counters().blocks_out(); }

// Pools change only through their own takes and returns, so a step needs
// only the pools it touched checked (bit s of `pools`).
void check_bookkeeping(std::uint64_t pools) {
  pool_table& table = pool_table::instance();
  for (std::int32_t s = first_slot; s <= last_slot; ++s) {
    if ((pools >> s & 1) == 0) continue;
    const char* fault = table.slot(s).bookkeeping_fault();
    FUZZ_CHECK(fault == nullptr, "pool of " + std::to_string(8 * s) + " bytes: " + (fault ? fault : ""));
  }
  heap_3& heap = heap_3::instance();
  for (std::int32_t c = 0; c < heap_3::class_count; ++c) {
    const heap_3::size_class& k = heap.class_record(c);
    FUZZ_CHECK(k.cached >= 0 && k.cached <= k.cache_capacity, "heap_3 class " + std::to_string(c) + " cache count");
    FUZZ_CHECK(k.size == heap_3::class_size(c), "heap_3 class " + std::to_string(c) + " size");
  }
}

class session {
 public:
  explicit session(FuzzedDataProvider& input) : in_(input) {
    pool_table& table = pool_table::instance();
    for (std::int32_t s = first_slot; s <= last_slot; ++s) in_use_before_[s] = blocks_in_use(table.slot(s));
    storage_before_ = storage_blocks_out();
    check_bookkeeping(every_pool);
  }

  void run() {
    while (in_.remaining_bytes() > 0) {
      touched_ = 0;
      step();
      check_bookkeeping(touched_);
      if (!live_.empty()) spot_check(live_[in_.ConsumeIntegralInRange<std::size_t>(0, live_.size() - 1)]);
    }
    locking_switch.store(0);
    while (!live_.empty()) give_back(live_.size() - 1);
    check_bookkeeping(every_pool);
    pool_table& table = pool_table::instance();
    for (std::int32_t s = first_slot; s <= last_slot; ++s) {
      FUZZ_CHECK(blocks_in_use(table.slot(s)) == in_use_before_[s],
                 "pool of " + std::to_string(8 * s) + " bytes has blocks in use that were returned");
    }
    FUZZ_CHECK(storage_blocks_out() == storage_before_, "block_storage did not get back every block");
  }

 private:
  // Up to 512 bytes of a live block, at either end or in between.
  void spot_check(const live_block& b) {
    std::uint64_t from = b.n <= 512 ? 0 : in_.ConsumeIntegralInRange<std::uint64_t>(0, b.n - 512);
    check_pattern(b, from, std::min<std::uint64_t>(b.n, from + 512));
  }

  std::uint64_t some_size(std::uint64_t pooled_limit) {
    switch (in_.ConsumeIntegralInRange(0, 15)) {
      case 0:
      case 1:
        return in_.ConsumeIntegralInRange<std::uint64_t>(pooled_limit + 1, 70000);
      case 2:
        return in_.ConsumeIntegralInRange<std::uint64_t>(70000, std::uint64_t{1} << 20);
      case 3:
        return pooled_limit + in_.ConsumeIntegralInRange<std::uint64_t>(0, 1);  // the edge of the pools
      default:
        return in_.ConsumeIntegralInRange<std::uint64_t>(0, pooled_limit);
    }
  }

  void take() {
    live_block b{};
    b.seed = in_.ConsumeIntegral<std::uint8_t>();
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        b.through = door::bytes;
        b.request = b.n = some_size(block_storage::largest_pooled_bytes);
        b.p = static_cast<char*>(block_storage::allocate_bytes(b.n));
        break;
      case 1:
        b.through = door::elements;
        b.request = some_size(block_storage::largest_pooled_elements) / (in_.ConsumeBool() ? 1 : 8);
        b.n = b.request * block_storage::element_bytes;
        b.p = static_cast<char*>(block_storage::allocate_elements(b.request));
        break;
      case 2:
        b.through = door::heap;
        // Not 0: that request writes the heap's diagnostic log file.
        b.request = b.n = some_size(block_storage::largest_pooled_bytes) + 1;
        b.p = static_cast<char*>(heap_3::instance().allocate(b.n));
        break;
      default:
        b.through = door::pool;
        b.request = static_cast<std::uint64_t>(in_.ConsumeIntegralInRange(first_slot, last_slot));
        b.n = 8 * b.request;
        b.p = static_cast<char*>(pool_table::instance().slot(static_cast<std::int32_t>(b.request)).allocate());
        break;
    }
    FUZZ_CHECK(b.p != nullptr, "a take answered null");
    FUZZ_CHECK(reinterpret_cast<std::uintptr_t>(b.p) % 8 == 0, "a block not aligned to 8 bytes");
    claim(b);
    fill(b);
    live_.push_back(b);
  }

  // The pool slot a block comes from or goes back to, if any.
  void touch(const live_block& b) {
    if (b.through == door::pool) touched_ |= std::uint64_t{1} << b.request;
    if (b.through == door::bytes && b.request <= block_storage::largest_pooled_bytes) {
      touched_ |= std::uint64_t{1} << std::max(1, block_storage::slot_for_bytes(b.request));
    }
    if (b.through == door::elements && b.request <= block_storage::largest_pooled_elements) {
      touched_ |= std::uint64_t{1} << std::max<std::uint64_t>(1, b.request);
    }
  }

  // Records the block's bytes; they must not meet any other live block's.
  void claim(const live_block& b) {
    touch(b);
    auto begin = reinterpret_cast<std::uintptr_t>(b.p);
    std::uintptr_t end = begin + (b.n == 0 ? 1 : b.n);
    auto next = spans_.lower_bound(begin);
    FUZZ_CHECK(next == spans_.end() || next->first >= end, "a new block overlaps a live block above it");
    FUZZ_CHECK(next == spans_.begin() || std::prev(next)->second <= begin,
               "a new block overlaps a live block below it");
    spans_.emplace(begin, end);
  }

  void give_back(std::size_t index) {
    live_block b = live_[index];
    live_[index] = live_.back();
    live_.pop_back();
    check_pattern(b);
    touch(b);
    spans_.erase(reinterpret_cast<std::uintptr_t>(b.p));
    switch (b.through) {
      case door::bytes:
        block_storage::free_bytes(b.p, b.request);
        break;
      case door::elements:
        block_storage::free_elements(b.p, b.request);
        break;
      case door::heap:
        heap_3::instance().free(b.p);
        break;
      case door::pool:
        pool_table::instance().slot(static_cast<std::int32_t>(b.request)).free(b.p);
        break;
    }
  }

  void step() {
    switch (in_.ConsumeIntegralInRange(0, 9)) {
      case 0:
      case 1:
      case 2:
      case 3:
        take();
        break;
      case 4: {  // a burst of takes from one pool, to fill chunks
        std::int32_t s = in_.ConsumeIntegralInRange(first_slot, last_slot);
        int count = in_.ConsumeIntegralInRange(1, 300);
        block_pool& pool = pool_table::instance().slot(s);
        for (int i = 0; i < count; ++i) {
          live_block b{static_cast<char*>(pool.allocate()), 8 * static_cast<std::uint64_t>(s), door::pool,
                       static_cast<std::uint64_t>(s), static_cast<std::uint8_t>(i)};
          claim(b);
          fill(b);
          live_.push_back(b);
        }
        break;
      }
      case 5:
        locking_switch.store(in_.ConsumeBool() ? 1 : 0);
        break;
      case 6: {  // return a run of blocks from the newest down
        std::size_t count = in_.ConsumeIntegralInRange<std::size_t>(0, live_.size());
        for (std::size_t i = 0; i < count; ++i) give_back(live_.size() - 1);
        break;
      }
      default:
        if (!live_.empty()) give_back(in_.ConsumeIntegralInRange<std::size_t>(0, live_.size() - 1));
        break;
    }
  }

  FuzzedDataProvider& in_;
  std::vector<live_block> live_;
  std::map<std::uintptr_t, std::uintptr_t> spans_;  // begin -> end of each live block
  std::int64_t in_use_before_[pool_table::slot_count] = {};
  std::uint64_t storage_before_ = 0;
  std::uint64_t touched_ = 0;
};

}  // namespace
}  // namespace lagscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  lagscan::fuzz::session(input).run();
  return 0;
}
