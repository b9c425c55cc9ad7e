// Blocks that heap_3 caches and the pools keep are invisible to the
// sanitizer's own allocator; these tests show that the poisoning we add
// still gets misuse of them reported. They exist in the sanitizer build only.
#if defined(__SANITIZE_ADDRESS__)

#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include <cstdint>

#include "memory/block_storage.h"
#include "memory/heap_3.h"
#include "memory/pool_table.h"

namespace lagscan {
namespace {

bool poisoned(const void* p) { return __asan_address_is_poisoned(p) != 0; }

TEST(sanitizer, a_block_in_the_heap_3_cache_is_poisoned_and_only_the_bytes_asked_for_come_back) {
  heap_3& heap = heap_3::instance();
  auto* p = static_cast<char*>(heap.allocate(300));  // class 512
  EXPECT_FALSE(poisoned(p + 299));
  EXPECT_TRUE(poisoned(p + 300));
  heap.free(p);
  EXPECT_TRUE(poisoned(p));
  EXPECT_TRUE(poisoned(p + 511));
  auto* q = static_cast<char*>(heap.allocate(400));
  ASSERT_EQ(q, p);
  EXPECT_FALSE(poisoned(q + 399));
  EXPECT_TRUE(poisoned(q + 400));
  heap.free(q);
}

TEST(sanitizer, use_of_a_block_after_heap_3_cached_it_is_reported) {
  heap_3& heap = heap_3::instance();
  auto* p = static_cast<volatile char*>(heap.allocate(1000));
  heap.free(const_cast<char*>(p));
  EXPECT_DEATH(p[10] = 1, "use-after-poison");
}

TEST(sanitizer, a_second_free_of_a_heap_3_block_stops_the_process) {
  heap_3& heap = heap_3::instance();
  void* p = heap.allocate(1000);
  heap.free(p);
  EXPECT_DEATH(heap.free(p), "already free");
}

TEST(sanitizer, free_pool_blocks_are_poisoned_and_a_handed_out_block_exposes_only_its_request) {
  auto* p = static_cast<char*>(block_storage::allocate_bytes(20));  // a 24-byte block
  EXPECT_FALSE(poisoned(p + 19));
  EXPECT_TRUE(poisoned(p + 20));
  block_pool& pool = pool_table::instance().slot(3);
  // The rest of a fresh chunk is free, and poisoned.
  EXPECT_TRUE(poisoned(pool.chunk_list[pool.chunk_list.count - 1]->data + pool.span));
  block_storage::free_bytes(p, 20);
}

TEST(sanitizer, use_of_a_pool_block_after_its_free_is_reported) {
  auto* keep = static_cast<char*>(block_storage::allocate_bytes(48));  // keeps the chunk alive
  auto* p = static_cast<volatile char*>(block_storage::allocate_bytes(48));
  block_storage::free_bytes(const_cast<char*>(p), 48);
  EXPECT_DEATH(p[0] = 1, "use-after-poison");
  block_storage::free_bytes(keep, 48);
}

TEST(sanitizer, an_overrun_past_the_bytes_asked_for_is_reported_in_a_pooled_block) {
  auto* p = static_cast<volatile char*>(block_storage::allocate_bytes(3));
  EXPECT_DEATH(p[3] = 1, "use-after-poison");
  block_storage::free_bytes(const_cast<char*>(p), 3);
}

}  // namespace
}  // namespace lagscan

#endif
