#include "memory/pool_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "memory/block_storage.h"
#include "support/start_line.h"

namespace lagscan {
namespace {

std::string fault_of(const block_pool& pool) {
  const char* fault = pool.bookkeeping_fault();
  return fault == nullptr ? "" : fault;
}

struct geometry_case {
  std::int64_t block_size;
  std::uint64_t blocks_per_chunk;
  std::uint64_t bitmap_words;
  std::uint64_t data_class_bytes;
};

class pool_geometry : public ::testing::TestWithParam<geometry_case> {};

TEST_P(pool_geometry, matches_the_table) {
  const geometry_case& g = GetParam();
  block_pool& pool = pool_table::instance().slot(static_cast<std::int32_t>(g.block_size / 8));
  EXPECT_EQ(pool.block_size, g.block_size);
  EXPECT_EQ(pool.blocks_per_chunk, g.blocks_per_chunk);
  EXPECT_EQ(pool.bitmap_words, g.bitmap_words);
  EXPECT_EQ(heap_3::class_size(heap_3::class_of(pool.blocks_per_chunk * static_cast<std::uint64_t>(g.block_size))),
            g.data_class_bytes);
}

INSTANTIATE_TEST_SUITE_P(table, pool_geometry,
                         ::testing::Values(geometry_case{8, 128, 2, 1024}, geometry_case{16, 128, 2, 2048},
                                           geometry_case{24, 170, 3, 4096}, geometry_case{40, 102, 2, 4096},
                                           geometry_case{88, 186, 3, 16384}, geometry_case{168, 195, 4, 32768},
                                           geometry_case{256, 128, 2, 32768}, geometry_case{264, 124, 2, 32768}));

// Every slot: as many blocks as fit in the class of 100 blocks, and not one
// more; the bitmap just covers them.
TEST(pool_table, every_slot_has_the_geometry_of_its_block_size) {
  pool_table& table = pool_table::instance();
  EXPECT_EQ(table.count, 34);
  EXPECT_EQ(table.base, 0);
  EXPECT_EQ(&table.slot(0), &table.slot(1));
  for (std::int32_t s = 1; s <= 33; ++s) {
    const block_pool& pool = table.slot(s);
    auto size = static_cast<std::uint64_t>(pool.block_size);
    std::uint64_t room = heap_3::class_size(heap_3::class_of(100 * size));
    EXPECT_EQ(size, 8u * static_cast<std::uint64_t>(s));
    EXPECT_LE(pool.blocks_per_chunk * size, room) << s;
    EXPECT_GT((pool.blocks_per_chunk + 1) * size, room) << s;
    EXPECT_GE(pool.blocks_per_chunk, 102u) << s;
    EXPECT_LE(pool.blocks_per_chunk, 195u) << s;
    EXPECT_LE(pool.bitmap_words, block_pool::largest_bitmap_words) << s;
    EXPECT_GE(pool.bitmap_words * 64, pool.blocks_per_chunk) << s;
    EXPECT_LT((pool.bitmap_words - 1) * 64, pool.blocks_per_chunk) << s;
    EXPECT_EQ(static_cast<std::uint64_t>(pool.span), (pool.blocks_per_chunk - 1) * size) << s;
  }
}

bool lies_in_a_chunk_of(const block_pool& pool, const void* p) {
  const char* at = static_cast<const char*>(p);
  for (std::int32_t k = 0; k < pool.chunk_list.count; ++k) {
    const chunk* c = pool.chunk_list[k];
    if (c->data <= at && at <= c->data + pool.span) return true;
  }
  return false;
}

// free finds a block's index by a multiplication instead of a division; it
// must agree with the division at every offset a chunk can hold.
TEST(block_pool, the_block_index_by_reciprocal_equals_the_division_over_every_offset_of_every_chunk) {
  for (std::int64_t size = 8; size <= pool_table::largest_pool_block_size; size += 8) {
    std::uint64_t reciprocal = block_pool::reciprocal_of(size);
    std::uint64_t last = block_pool::blocks_per_chunk_for(size) * static_cast<std::uint64_t>(size);
    for (std::uint64_t offset = 0; offset < last; ++offset) {
      ASSERT_EQ(block_pool::block_index(offset, reciprocal), offset / static_cast<std::uint64_t>(size))
          << "block size " << size << ", offset " << offset;
    }
  }
}

TEST(pool_table, allocate_bytes_of_zero_returns_an_eight_byte_block_of_slot_1s_pool) {
  void* p = block_storage::allocate_bytes(0);
  EXPECT_TRUE(lies_in_a_chunk_of(pool_table::instance().slot(1), p));
  block_storage::free_bytes(p, 0);
}

TEST(block_pool, the_first_allocation_creates_a_chunk_and_returns_block_0_then_block_1) {
  block_pool pool(24);
  char* first = static_cast<char*>(pool.allocate());
  ASSERT_EQ(pool.chunk_list.count, 1);
  chunk& c = *pool.chunk_list[0];
  EXPECT_EQ(first, c.data);
  char* second = static_cast<char*>(pool.allocate());
  EXPECT_EQ(second, c.data + 24);
  EXPECT_EQ(c.used, 2);
  EXPECT_EQ(c.bitmap[0], 3u);
  EXPECT_EQ(c.pool, &pool);
  EXPECT_EQ(fault_of(pool), "");
  pool.free(second);
  pool.free(first);
}

TEST(block_pool, freeing_the_last_block_in_use_returns_the_chunk_and_the_next_allocation_makes_a_new_one) {
  block_pool pool(16);
  void* p = pool.allocate();
  pool.free(p);
  EXPECT_EQ(pool.chunk_list.count, 0);
  EXPECT_EQ(pool.open_list.count, 0);
  EXPECT_EQ(fault_of(pool), "");
  void* q = pool.allocate();
  ASSERT_EQ(pool.chunk_list.count, 1);
  EXPECT_EQ(q, pool.chunk_list[0]->data);
  pool.free(q);
}

// A chunk that became open again must be reused first.
TEST(block_pool, a_full_chunk_leaves_the_open_list_and_a_free_puts_it_back_for_the_next_allocation) {
  block_pool pool(8);
  std::vector<void*> blocks;
  for (int i = 0; i < 128; ++i) blocks.push_back(pool.allocate());
  chunk* first = pool.chunk_list[0];
  EXPECT_EQ(first->used, 128);
  EXPECT_EQ(pool.open_list.count, 0);
  blocks.push_back(pool.allocate());  // the 129th
  ASSERT_EQ(pool.chunk_list.count, 2);
  EXPECT_EQ(pool.open_list.count, 1);
  void* freed = blocks[37];
  pool.free(freed);
  ASSERT_EQ(pool.open_list.count, 2);
  EXPECT_EQ(pool.open_list[1], first);
  EXPECT_EQ(fault_of(pool), "");
  EXPECT_EQ(pool.allocate(), freed);
  EXPECT_EQ(pool.open_list.count, 1);
  for (void* p : blocks) pool.free(p);
  EXPECT_EQ(pool.chunk_list.count, 0);
}

TEST(block_pool, a_chunk_of_the_24_byte_pool_is_full_after_170_blocks_although_bits_170_to_191_are_clear) {
  block_pool pool(24);
  std::vector<void*> blocks;
  for (int i = 0; i < 170; ++i) blocks.push_back(pool.allocate());
  ASSERT_EQ(pool.chunk_list.count, 1);
  chunk& c = *pool.chunk_list[0];
  EXPECT_EQ(pool.open_list.count, 0);
  EXPECT_EQ(c.bitmap[2], (std::uint64_t{1} << 42) - 1);
  blocks.push_back(pool.allocate());
  EXPECT_EQ(pool.chunk_list.count, 2);
  EXPECT_EQ(fault_of(pool), "");
  for (void* p : blocks) pool.free(p);
}

// Random allocate/free sequences against a model of the live blocks: no
// block is handed out twice, every block lies on a boundary of a chunk of
// its pool, and the bookkeeping holds after every step.
struct random_case {
  std::int64_t block_size;
  unsigned seed;
  int steps;
  int keep_percent;  // chance of allocating rather than freeing
};

class block_pool_random : public ::testing::TestWithParam<random_case> {};

TEST_P(block_pool_random, keeps_the_chunk_list_sorted_and_the_open_list_free_of_released_chunks) {
  const random_case& r = GetParam();
  block_pool pool(r.block_size);
  std::mt19937 random(r.seed);
  std::vector<char*> live;
  std::set<char*> unique;
  for (int step = 0; step < r.steps; ++step) {
    bool allocate = live.empty() || static_cast<int>(random() % 100) < r.keep_percent;
    if (allocate) {
      auto* p = static_cast<char*>(pool.allocate());
      ASSERT_TRUE(unique.insert(p).second) << "block handed out twice";
      std::memset(p, static_cast<int>(unique.size() & 0xFF), static_cast<std::size_t>(r.block_size));
      live.push_back(p);
    } else {
      std::size_t k = random() % live.size();
      unique.erase(live[k]);
      pool.free(live[k]);
      live[k] = live.back();
      live.pop_back();
    }
    ASSERT_EQ(fault_of(pool), "") << "step " << step;
  }
  std::int64_t in_use = 0;
  for (chunk* c : pool.chunk_list) in_use += c->used;
  EXPECT_EQ(in_use, static_cast<std::int64_t>(live.size()));
  std::shuffle(live.begin(), live.end(), random);
  for (char* p : live) pool.free(p);
  EXPECT_EQ(pool.chunk_list.count, 0);
  EXPECT_EQ(pool.open_list.count, 0);
}

INSTANTIATE_TEST_SUITE_P(sequences, block_pool_random,
                         ::testing::Values(random_case{8, 1, 3000, 60}, random_case{24, 2, 3000, 55},
                                           random_case{168, 3, 3000, 70}, random_case{264, 4, 3000, 50},
                                           random_case{40, 5, 3000, 90}));

class switch_restored : public ::testing::Test {
 protected:
  void TearDown() override { locking_switch = 0; }
};

// With the switch set two threads may share a pool; each writes its own
// mark into its blocks and checks it before freeing, so a block handed to
// both threads, or bookkeeping torn by a race, shows up.
TEST_F(switch_restored, the_locking_switch_lets_two_threads_share_a_pool) {
  locking_switch = 1;
  block_pool pool(32);
  lagscan::testing::start_line start(2);
  auto work = [&pool, &start](unsigned seed, char mark, bool* clean) {
    std::mt19937 random(seed);
    std::vector<char*> live;
    *clean = true;
    start.arrive_and_wait();  // both threads in the pool at once
    for (int step = 0; step < 400000; ++step) {
      if (live.empty() || random() % 100 < 51) {
        auto* p = static_cast<char*>(pool.allocate());
        std::memset(p, mark, 32);
        live.push_back(p);
      } else {
        std::size_t k = random() % live.size();
        for (int i = 0; i < 32; ++i) *clean = *clean && live[k][i] == mark;
        pool.free(live[k]);
        live[k] = live.back();
        live.pop_back();
      }
    }
    for (char* p : live) pool.free(p);
  };
  bool clean_a = false;
  bool clean_b = false;
  std::thread a(work, 11u, 'a', &clean_a);
  std::thread b(work, 12u, 'b', &clean_b);
  a.join();
  b.join();
  EXPECT_TRUE(clean_a);
  EXPECT_TRUE(clean_b);
  EXPECT_EQ(fault_of(pool), "");
  EXPECT_EQ(pool.chunk_list.count, 0);
}

using block_pool_death = ::testing::Test;

TEST(block_pool_death, free_on_a_pool_with_no_chunks_stops_the_process) {
  block_pool pool(8);
  long word = 0;
  EXPECT_DEATH(pool.free(&word), "pool that has no chunks");
}

TEST(block_pool_death, free_of_a_pointer_in_no_chunk_stops_the_process_instead_of_indexing_outside_the_list) {
  block_pool pool(8);
  void* p = pool.allocate();
  long word = 0;
  EXPECT_DEATH(pool.free(&word), "lies in no chunk of the pool");
  // A block of another pool of the same size is in no chunk of this one.
  block_pool other(8);
  void* foreign = other.allocate();
  EXPECT_DEATH(pool.free(foreign), "lies in no chunk of the pool");
  other.free(foreign);
  pool.free(p);
}

TEST(block_pool_death, free_of_a_pointer_inside_a_block_or_of_a_free_block_stops_the_process) {
  block_pool pool(16);
  auto* p = static_cast<char*>(pool.allocate());
  void* q = pool.allocate();
  EXPECT_DEATH(pool.free(p + 8), "inside a block");
  pool.free(q);
  EXPECT_DEATH(pool.free(q), "not in use");
  pool.free(p);
}

}  // namespace
}  // namespace lagscan
