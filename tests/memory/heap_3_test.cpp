#include "memory/heap_3.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/process_heap.h"

namespace lagscan {
namespace {

constexpr std::uint64_t one = 1;

struct class_case {
  std::uint64_t n;
  std::int32_t klass;
};

class heap_3_class_of : public ::testing::TestWithParam<class_case> {};

TEST_P(heap_3_class_of, finds_the_smallest_class_that_holds_the_request) {
  EXPECT_EQ(heap_3::class_of(GetParam().n), GetParam().klass);
}

INSTANTIATE_TEST_SUITE_P(table, heap_3_class_of,
                         ::testing::Values(class_case{1, 0}, class_case{2, 0}, class_case{3, 1}, class_case{4, 1},
                                           class_case{5, 2}, class_case{256, 7}, class_case{265, 8},
                                           class_case{512, 8}, class_case{513, 9}, class_case{32768, 14},
                                           class_case{(one << 34) + 1, 34}, class_case{one << 35, 34}));

// Walks every power-of-two boundary: just below, at and above each one.
TEST(heap_3, class_of_is_the_smallest_class_whose_size_is_not_below_the_request) {
  for (int bit = 1; bit <= 35; ++bit) {
    for (std::uint64_t n : {(one << bit) - 1, one << bit, (one << bit) + 1}) {
      if (n > heap_3::largest_class_size) continue;
      std::int32_t c = heap_3::class_of(n);
      ASSERT_GE(c, 0);
      ASSERT_LT(c, heap_3::class_count);
      EXPECT_GE(heap_3::class_size(c), n) << n;
      if (c > 0) {
        EXPECT_LT(heap_3::class_size(c - 1), n) << n;
      }
    }
  }
}

TEST(heap_3, requests_beyond_the_last_class_raise_out_of_storage_instead_of_reading_past_it) {
  EXPECT_THROW(heap_3::class_of(heap_3::largest_class_size + 1), platform::out_of_storage);
  EXPECT_THROW(heap_3::instance().allocate(UINT64_MAX), std::bad_alloc);
}

TEST(heap_3, the_table_holds_35_classes_from_2_bytes_to_2_to_the_35) {
  heap_3& heap = heap_3::instance();
  EXPECT_EQ(heap.table->count, 35u);
  for (std::int32_t c = 0; c < heap_3::class_count; ++c) {
    const heap_3::size_class& k = heap.class_record(c);
    EXPECT_EQ(k.index, c);
    EXPECT_EQ(k.size, one << (c + 1));
    EXPECT_EQ(k.blocks_in_100_mb, 100000000 / k.size + 1);
    EXPECT_EQ(k.heap, platform::process_heap());
  }
  EXPECT_EQ(heap.flags, 0u);
  EXPECT_EQ(heap.tag, 0u);
}

TEST(heap_3, allocate_gives_a_block_of_exactly_the_class_size) {
  heap_3& heap = heap_3::instance();
  for (std::uint64_t n : {0u, 1u, 3u, 300u, 5000u}) {
    void* p = heap.allocate(n);
    EXPECT_EQ(platform::heap_block_size(p), heap_3::class_size(n == 0 ? 0 : heap_3::class_of(n))) << n;
    heap.free(p);
  }
}

TEST(heap_3, free_of_null_does_nothing) {
  heap_3& heap = heap_3::instance();
  std::int64_t cached[heap_3::class_count];
  for (std::int32_t c = 0; c < heap_3::class_count; ++c) cached[c] = heap.class_record(c).cached;
  platform::heap_calls before = platform::thread_heap_calls();
  heap.free(nullptr);
  EXPECT_EQ(platform::thread_heap_calls().releases, before.releases);
  for (std::int32_t c = 0; c < heap_3::class_count; ++c) EXPECT_EQ(heap.class_record(c).cached, cached[c]) << c;
}

struct same_class_case {
  std::uint64_t freed;
  std::uint64_t asked;
};

class heap_3_reuse : public ::testing::TestWithParam<same_class_case> {};

TEST_P(heap_3_reuse, a_freed_block_is_the_next_one_out_of_its_class_without_a_process_heap_call) {
  heap_3& heap = heap_3::instance();
  void* p = heap.allocate(GetParam().freed);
  heap.free(p);
  platform::heap_calls before = platform::thread_heap_calls();
  void* q = heap.allocate(GetParam().asked);
  EXPECT_EQ(q, p);
  EXPECT_EQ(platform::thread_heap_calls().allocations, before.allocations);
  heap.free(q);
}

INSTANTIATE_TEST_SUITE_P(same_class, heap_3_reuse,
                         ::testing::Values(same_class_case{3, 4}, same_class_case{512, 265},
                                           same_class_case{300, 512}, same_class_case{5000, 8192}));

// Measured from the capacity the class has when the test starts, so that it
// holds for a class other tests (or an earlier repetition) have used: each
// growth happens at the push that finds the cache full and makes room for
// 2 * capacity + 16 entries (16, 48, 112, ... from an untouched class).
TEST(heap_3, a_full_cache_grows_to_twice_its_capacity_plus_16_entries_at_the_next_push) {
  heap_3& heap = heap_3::instance();
  const std::uint64_t n = std::uint64_t{1} << 20;
  heap_3::size_class& k = heap.class_record(heap_3::class_of(n));
  const std::int64_t start = k.cache_capacity;
  const std::int64_t first = 2 * start + 16;
  const std::int64_t second = 2 * first + 16;
  // Enough blocks, taken from the cache and the process heap alike, to fill
  // the cache past two growths when they come back.
  std::vector<void*> blocks;
  for (std::int64_t i = 0; i < first + 1; ++i) blocks.push_back(heap.allocate(n));
  ASSERT_EQ(k.cached, 0);
  std::vector<std::int64_t> capacities;
  for (void* p : blocks) {
    heap.free(p);
    capacities.push_back(k.cache_capacity);
  }
  for (std::size_t i = 0; i < capacities.size(); ++i) {
    auto pushes = static_cast<std::int64_t>(i) + 1;
    std::int64_t expected = pushes <= start ? start : pushes <= first ? first : second;
    ASSERT_EQ(capacities[i], expected) << "after " << pushes << " pushes from a capacity of " << start;
  }
  EXPECT_EQ(k.cached, first + 1);
  // Last in, first out, across the growths.
  for (std::size_t i = blocks.size(); i-- > 0;) EXPECT_EQ(heap.allocate(n), blocks[i]);
  for (void* p : blocks) heap.free(p);
}

// Holds a class lock on a second thread for as long as the object lives.
class lock_held_elsewhere {
 public:
  explicit lock_held_elsewhere(omp_nest_lock_t& lock)
      : holder_([this, &lock] {
          omp_set_nest_lock(&lock);
          held_ = true;
          while (!release_) std::this_thread::yield();
          omp_unset_nest_lock(&lock);
        }) {
    while (!held_) std::this_thread::yield();
  }
  ~lock_held_elsewhere() {
    release_ = true;
    holder_.join();
  }

 private:
  std::atomic<bool> held_{false};
  std::atomic<bool> release_{false};
  std::thread holder_;
};

TEST(heap_3, with_the_class_lock_held_by_another_thread_allocate_and_free_bypass_the_cache) {
  heap_3& heap = heap_3::instance();
  std::uint64_t n = 3000;
  heap_3::size_class& k = heap.class_record(heap_3::class_of(n));
  void* cached = heap.allocate(n);
  heap.free(cached);  // the cache's top entry
  std::int64_t cached_before = k.cached;
  void* p = nullptr;
  {
    lock_held_elsewhere busy(k.lock);
    platform::heap_calls before = platform::thread_heap_calls();
    p = heap.allocate(n);
    EXPECT_NE(p, cached);
    EXPECT_EQ(platform::thread_heap_calls().allocations, before.allocations + 1);
    heap.free(p);
    EXPECT_EQ(platform::thread_heap_calls().releases, before.releases + 1);
    EXPECT_EQ(k.cached, cached_before);
  }
  EXPECT_EQ(heap.allocate(n), cached);  // the cache itself was left alone
  heap.free(cached);
}

class flags_restored : public ::testing::Test {
 protected:
  void TearDown() override {
    heap_3::instance().flags = 0;
    locking_switch = 0;
  }
};

TEST_F(flags_restored, direct_release_sends_freed_blocks_to_the_process_heap) {
  heap_3& heap = heap_3::instance();
  heap_3::size_class& k = heap.class_record(heap_3::class_of(700));
  void* p = heap.allocate(700);
  std::int64_t cached_before = k.cached;
  heap.flags = heap_3::direct_release;
  platform::heap_calls before = platform::thread_heap_calls();
  heap.free(p);
  EXPECT_EQ(platform::thread_heap_calls().releases, before.releases + 1);
  EXPECT_EQ(k.cached, cached_before);
}

TEST_F(flags_restored, direct_release_under_the_locking_switch_waits_for_the_class_lock) {
  heap_3& heap = heap_3::instance();
  heap_3::size_class& k = heap.class_record(heap_3::class_of(700));
  void* p = heap.allocate(700);
  heap.flags = heap_3::direct_release;
  locking_switch = 1;
  std::atomic<bool> freed{false};
  std::thread freeing;
  {
    lock_held_elsewhere busy(k.lock);
    freeing = std::thread([&] {
      heap.free(p);
      freed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(freed) << "free went on while the class lock was held";
  }
  freeing.join();
  EXPECT_TRUE(freed);
}

}  // namespace
}  // namespace lagscan
