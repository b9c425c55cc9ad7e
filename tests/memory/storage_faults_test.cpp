// The paths that only exhausted storage or a broken contract take: a cache
// that cannot grow, a failed construction of heap_3 or of the pool_table,
// and a block heap_3 never gave out. The test builds' process heap is made
// to fail on demand (platform::fail_allocation_after).
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <vector>

#include "memory/heap_3.h"
#include "memory/pool_table.h"
#include "platform/process_heap.h"

namespace lagscan {
namespace {

// Disarms an injected failure that a test left unused, so that it cannot
// strike the next test.
class injected_failure : public ::testing::Test {
 protected:
  void TearDown() override { platform::fail_allocation_after(-1); }
};

std::uint64_t live_platform_blocks() {
  const platform::heap_calls& calls = platform::thread_heap_calls();
  return calls.allocations - calls.releases;
}

// A heap of the test's own in the direct_release mode: its caches stay
// empty, so every allocate and free is one call into the process heap and
// the counts of those calls show every block it gave out and took back.
heap_3* uncached_heap() {
  heap_3* heap = heap_3::create();
  heap->flags = heap_3::direct_release;
  return heap;
}

// Gives back a heap made by heap_3::create whose caches never grew.
void discard(heap_3* heap) {
  for (std::int32_t c = 0; c < heap_3::class_count; ++c) {
    heap_3::size_class& k = heap->class_record(c);
    ASSERT_EQ(k.cache_capacity, 0) << "class " << c;
    omp_destroy_nest_lock(&k.lock);
  }
  platform::heap_release(heap->table);
  platform::heap_release(heap);
}

TEST_F(injected_failure, a_cache_that_cannot_grow_sends_the_block_to_the_process_heap) {
  heap_3& heap = heap_3::instance();
  const std::uint64_t n = std::uint64_t{1} << 13;
  heap_3::size_class& k = heap.class_record(heap_3::class_of(n));
  heap.free(heap.allocate(n));  // the cache has storage from here on
  // Take every cached block and one more, then give back as many as the
  // cache holds: it is full, and the next push must grow it.
  const std::int64_t capacity = k.cache_capacity;
  std::vector<void*> blocks;
  for (std::int64_t i = 0; i <= capacity; ++i) blocks.push_back(heap.allocate(n));
  void* last = blocks.back();
  blocks.pop_back();
  for (void* p : blocks) heap.free(p);
  ASSERT_EQ(k.cached, capacity);
  void* top = k.entries[k.cached - 1].block;

  platform::heap_calls before = platform::thread_heap_calls();
  platform::fail_allocation_after(0);
  heap.free(last);
  EXPECT_EQ(platform::thread_heap_calls().releases, before.releases + 1) << "the block went back to the process heap";
  EXPECT_EQ(k.cache_capacity, capacity);
  EXPECT_EQ(k.cached, capacity);
  EXPECT_EQ(k.entries[k.cached - 1].block, top) << "the cache is as it was";
}

// Stopping is the only sound answer: freeing the block into a class would
// hand out memory of the wrong size later.
TEST(heap_3_death, free_of_a_block_heap_3_did_not_allocate_stops_the_process) {
  void* foreign = platform::heap_allocate(100);  // no class has 100 bytes
  EXPECT_DEATH(heap_3::instance().free(foreign), "heap_3::free of a block that heap_3 did not allocate");
  platform::heap_release(foreign);
}

// heap_3 takes two blocks from the process heap (itself, then its class
// table); a failure at either gives back what was taken, and the next
// attempt builds a whole heap.
TEST_F(injected_failure, a_failed_heap_3_construction_gives_back_what_it_took_and_can_be_tried_again) {
  for (std::int64_t successes = 0; successes < 2; ++successes) {
    std::uint64_t live = live_platform_blocks();
    platform::fail_allocation_after(successes);
    EXPECT_THROW(heap_3::create(), platform::out_of_storage) << "failing after " << successes;
    EXPECT_EQ(live_platform_blocks(), live) << "failing after " << successes;
  }
  heap_3* heap = uncached_heap();
  EXPECT_EQ(heap->table->count, 35u);
  void* p = heap->allocate(300);
  EXPECT_EQ(platform::heap_block_size(p), 512u);
  heap->free(p);
  discard(heap);
}

// Building the table takes 35 blocks (the table, its slot array and 33
// pools). Failing at each of them in turn must give back every block taken
// before, through the teardown of the pools built so far.
TEST_F(injected_failure, a_failed_pool_table_build_gives_back_every_block_it_took) {
  heap_3* heap = uncached_heap();
  std::int64_t failures = 0;
  pool_table* table = nullptr;
  while (table == nullptr) {
    ASSERT_LT(failures, 100) << "the build never succeeded";
    std::uint64_t live = live_platform_blocks();
    platform::fail_allocation_after(failures);
    try {
      table = pool_table::create(*heap);
    } catch (const platform::out_of_storage&) {
      EXPECT_EQ(live_platform_blocks(), live) << "failing after " << failures << " blocks";
      ++failures;
    }
  }
  platform::fail_allocation_after(-1);
  EXPECT_EQ(failures, 35) << "each block of the build failed once";
  EXPECT_EQ(table->count, pool_table::slot_count);
  EXPECT_EQ(&table->slot(0), &table->slot(1));
  EXPECT_EQ(table->slot(33).block_size, 264);
  std::uint64_t live = live_platform_blocks();
  pool_table::destroy(table, *heap);
  EXPECT_EQ(live - live_platform_blocks(), 35u);
  discard(heap);
}

}  // namespace
}  // namespace lagscan
