#include "memory/heap_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "storage_counts.h"
#include "memory/size_limit_error.h"

namespace lagscan {
namespace {

using testing::storage_counts;

// Process-wide arrays are constant-initialised: this must compile.
constinit heap_array<void*> constant_initialised_list;
constinit heap_array<std::uint16_t> constant_initialised_cells;

struct keyed {
  std::uint64_t key;
};

std::uint64_t key_of(keyed* k) { return k->key; }

std::vector<std::uint64_t> keys(const heap_array<keyed*>& list) {
  std::vector<std::uint64_t> out;
  for (std::int32_t i = 0; i < list.count; ++i) out.push_back(list[i]->key);
  return out;
}

TEST(heap_array, reserve_takes_exactly_capacity_times_eight_bytes_from_heap_3_and_never_from_a_pool) {
  storage_counts counts;
  heap_array<void*> list;
  list.reserve(5, false);
  EXPECT_EQ(list.capacity, 5);
  EXPECT_EQ(list.count, 0);
  // heap_3 serves 40 bytes from its 64-byte class; a pool would have served 40.
  EXPECT_EQ(platform::heap_block_size(list.buffer), 64u);
  EXPECT_TRUE(counts.takes().empty());
}

TEST(heap_array, reserve_with_keep_copies_the_smaller_capacity) {
  heap_array<void*> list;
  list.reserve(3, false);
  for (std::uintptr_t i = 0; i < 3; ++i) list.insert_at(reinterpret_cast<void*>(i + 1), static_cast<std::int32_t>(i));
  list.reserve(10, true);
  EXPECT_EQ(list.capacity, 10);
  EXPECT_EQ(list.count, 3);
  for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(list[i], reinterpret_cast<void*>(std::uintptr_t(i) + 1));
  list.reserve(2, true);
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list[1], reinterpret_cast<void*>(std::uintptr_t{2}));
  list.reserve(0, true);
  EXPECT_EQ(list.capacity, 0);
  EXPECT_EQ(list.buffer, nullptr);
}

TEST(heap_array, insert_at_moves_the_tail_up_and_appends_past_the_end) {
  heap_array<keyed*> list;
  keyed a{1}, b{2}, c{3}, d{4};
  list.insert_at(&b, 0);
  list.insert_at(&d, 7);  // past the end: appended
  list.insert_at(&a, 0);
  list.insert_at(&c, 2);
  EXPECT_EQ(keys(list), (std::vector<std::uint64_t>{1, 2, 3, 4}));
  list.remove_at(1);
  EXPECT_EQ(keys(list), (std::vector<std::uint64_t>{1, 3, 4}));
}

TEST(heap_array, inserting_into_a_full_list_doubles_it_from_eight) {
  heap_array<void*> list;
  std::vector<std::int32_t> capacities;
  for (std::int32_t i = 0; i < 17; ++i) {
    list.insert_at(nullptr, i);
    capacities.push_back(list.capacity);
  }
  EXPECT_EQ(capacities[0], 8);
  EXPECT_EQ(capacities[8], 16);
  EXPECT_EQ(capacities[16], 32);
}

struct sorted_case {
  std::uint64_t key;
  std::int32_t index;
};

class insert_sorted_into_10_20_30 : public ::testing::TestWithParam<sorted_case> {};

TEST_P(insert_sorted_into_10_20_30, places_before_the_first_key_not_smaller) {
  keyed k10{10}, k20{20}, k30{30};
  heap_array<keyed*> list;
  for (keyed* k : {&k10, &k20, &k30}) list.insert_sorted(k, key_of);
  keyed added{GetParam().key};
  EXPECT_EQ(list.insert_sorted(&added, key_of), GetParam().index);
  EXPECT_EQ(list[GetParam().index], &added);
  std::vector<std::uint64_t> got = keys(list);
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
}

INSTANTIATE_TEST_SUITE_P(positions, insert_sorted_into_10_20_30,
                         ::testing::Values(sorted_case{40, 3}, sorted_case{31, 3}, sorted_case{30, 2},
                                           sorted_case{25, 2}, sorted_case{20, 1}, sorted_case{15, 1},
                                           sorted_case{10, 0}, sorted_case{5, 0}));

// Against the standard library's lower_bound, with many duplicates so that
// "before the first key not smaller" is exercised in the middle of runs.
TEST(heap_array, insert_sorted_agrees_with_lower_bound_on_random_keys) {
  std::mt19937_64 random(7);
  std::vector<keyed> items(300);
  for (keyed& k : items) k.key = random() % 50;
  heap_array<keyed*> list;
  std::vector<std::uint64_t> model;
  for (keyed& k : items) {
    auto expected = std::lower_bound(model.begin(), model.end(), k.key) - model.begin();
    ASSERT_EQ(list.insert_sorted(&k, key_of), expected);
    model.insert(model.begin() + expected, k.key);
  }
  EXPECT_EQ(keys(list), model);
}

TEST(heap_array, resize_of_two_byte_cells_sets_capacity_and_count_and_keeps_the_block_for_the_same_size) {
  heap_array<std::uint16_t> cells;
  cells.resize(5);
  EXPECT_EQ(cells.capacity, 5);
  EXPECT_EQ(cells.count, 5);
  EXPECT_EQ(platform::heap_block_size(cells.buffer), 16u);  // 10 bytes from the 16-byte class
  std::uint16_t* block = cells.buffer;
  cells.resize(5);
  EXPECT_EQ(cells.buffer, block);
  cells.resize(200);
  EXPECT_EQ(cells.capacity, 200);
  EXPECT_EQ(platform::heap_block_size(cells.buffer), 512u);
  cells.resize(0);
  EXPECT_EQ(cells.capacity, 0);
  EXPECT_EQ(cells.count, 0);
  EXPECT_EQ(cells.buffer, nullptr);
}

TEST(heap_array, doubling_past_the_element_limit_raises_array_too_large) {
  heap_array<void*> list;
  list.capacity = static_cast<std::int32_t>(max_array_elements);
  list.count = list.capacity;
  try {
    list.insert_at(nullptr, 0);
    FAIL() << "no error raised";
  } catch (const size_limit_error& error) {
    EXPECT_STREQ(error.message(), "Array too large");
  }
  list.capacity = 0;  // nothing was ever owned
  list.count = 0;
}

}  // namespace
}  // namespace lagscan
