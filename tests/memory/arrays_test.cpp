#include "memory/arrays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "storage_counts.h"
#include "memory/size_limit_error.h"

namespace lagscan {
namespace {

using testing::heap_source;
using testing::storage_counts;

struct append_case {
  std::int32_t appends;
  std::int32_t capacity;
  int source;  // of the block the array holds afterwards
};

class real_array_append : public ::testing::TestWithParam<append_case> {};

TEST_P(real_array_append, doubles_from_eight_and_keeps_every_value) {
  append_case c = GetParam();
  storage_counts counts;
  {
    real_array a;
    for (std::int32_t i = 0; i < c.appends; ++i) a.append(0.5 * i);
    EXPECT_EQ(a.capacity, c.capacity);
    EXPECT_EQ(a.count, c.appends);
    EXPECT_EQ(counts.takes().back(), c.source);
    for (std::int32_t i = 0; i < c.appends; ++i) ASSERT_EQ(a[i], 0.5 * i) << i;
  }
  EXPECT_EQ(counts.takes(), counts.returns());
}

INSTANTIATE_TEST_SUITE_P(growth, real_array_append,
                         ::testing::Values(append_case{1, 8, 8}, append_case{8, 8, 8}, append_case{9, 16, 16},
                                           append_case{17, 32, 32}, append_case{33, 64, heap_source},
                                           append_case{64, 64, heap_source}, append_case{65, 128, heap_source}));

TEST(real_array, the_65th_append_moves_to_a_1024_byte_heap_block) {
  real_array a;
  for (int i = 0; i < 64; ++i) a.append(i);
  storage_counts counts;
  a.append(64);
  EXPECT_EQ(counts.takes(), std::vector<int>{heap_source});
  EXPECT_EQ(counts.returns(), std::vector<int>{heap_source});
  EXPECT_EQ(platform::heap_block_size(a.buffer), 1024u);
}

struct reserve_case {
  std::int64_t n;
  std::int32_t capacity;
  int source;
};

class real_array_reserve : public ::testing::TestWithParam<reserve_case> {};

TEST_P(real_array_reserve, on_an_empty_array_takes_the_rounded_capacity_from_its_source) {
  reserve_case c = GetParam();
  storage_counts counts;
  real_array a;
  a.reserve(c.n, false);
  EXPECT_EQ(a.capacity, c.capacity);
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(counts.takes(), std::vector<int>{c.source});
}

INSTANTIATE_TEST_SUITE_P(rounding, real_array_reserve,
                         ::testing::Values(reserve_case{1, 1, 1}, reserve_case{33, 33, 33},
                                           reserve_case{34, 64, heap_source}, reserve_case{100, 128, heap_source}));

TEST(real_array, reserve_of_the_current_capacity_keeps_the_block) {
  real_array a;
  a.reserve(20, false);
  double* block = a.buffer;
  storage_counts counts;
  a.reserve(20, true);
  EXPECT_EQ(a.buffer, block);
  EXPECT_TRUE(counts.takes().empty());
}

TEST(real_array, reserve_of_zero_or_less_frees_and_empties) {
  for (std::int64_t n : {0, -1}) {
    real_array a;
    a.append(1.0);
    storage_counts counts;
    a.reserve(n, true);
    EXPECT_EQ(a.capacity, 0);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(counts.returns(), std::vector<int>{8});
  }
}

// What the caller wrote past count is kept as well, up to the smaller of the
// two capacities (and no further: the sanitizer build reports any byte read
// past the old block or written past the new one).
TEST(real_array, reserve_with_keep_copies_the_old_capacity_and_no_more) {
  real_array a;
  a.reserve(4, false);
  for (int i = 0; i < 4; ++i) a.buffer[i] = 10.0 + i;
  a.count = 1;
  a.reserve(6, true);
  ASSERT_EQ(a.capacity, 6);
  EXPECT_EQ(a.count, 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(a.buffer[i], 10.0 + i);

  real_array b;
  b.reserve(40, false);  // 64 elements from the heap
  for (int i = 0; i < 64; ++i) b.buffer[i] = i;
  b.reserve(3, true);
  ASSERT_EQ(b.capacity, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b.buffer[i], i);
}

TEST(real_array, reserve_below_count_never_leaves_count_above_capacity) {
  real_array a;
  for (int i = 0; i < 10; ++i) a.append(i);
  a.reserve(4, true);
  EXPECT_EQ(a.capacity, 4);
  EXPECT_EQ(a.count, 4);
}

TEST(real_array, release_storage_twice_frees_once) {
  storage_counts counts;
  {
    real_array a;
    a.append(1.0);
    a.release_storage();
    a.release_storage();
    EXPECT_EQ(a.buffer, nullptr);
    EXPECT_EQ(a.capacity, 0);
  }
  EXPECT_EQ(counts.takes(), std::vector<int>{8});
  EXPECT_EQ(counts.returns(), std::vector<int>{8});
}

void expect_array_too_large(void (*operation)(real_array&), real_array& a) {
  try {
    operation(a);
    FAIL() << "no error raised";
  } catch (const size_limit_error& error) {
    EXPECT_STREQ(error.message(), "Array too large");
  }
}

TEST(real_array, reserve_past_the_element_limit_raises_array_too_large) {
  real_array a;
  expect_array_too_large([](real_array& r) { r.reserve(real_array::max_elements + 1, false); }, a);
  EXPECT_EQ(a.capacity, 0);
}

// The doubling is checked before any storage is asked for, so the limit
// can be shown on an array whose fields only claim to be full.
TEST(real_array, append_at_the_element_limit_raises_array_too_large_instead_of_wrapping_capacity) {
  real_array a;
  a.capacity = static_cast<std::int32_t>(real_array::max_elements);
  a.count = a.capacity;
  expect_array_too_large([](real_array& r) { r.append(1.0); }, a);
  EXPECT_EQ(a.capacity, real_array::max_elements);
  a.capacity = 0;  // nothing was ever owned
  a.count = 0;
}

real_array* new_owned_array(int values) {
  auto* owned = ::new (block_storage::allocate_bytes(real_array_header_bytes)) real_array();
  for (int i = 0; i < values; ++i) owned->append(i);
  return owned;
}

TEST(pointer_array, destroy_owned_returns_every_array_and_its_header_to_slot_2) {
  storage_counts counts;
  pointer_array owners;
  owners.append(new_owned_array(3));
  owners.append(nullptr);
  owners.append(new_owned_array(40));
  owners.destroy_owned();
  EXPECT_EQ(owners.capacity, 0);
  EXPECT_EQ(owners.count, 0);
  std::vector<int> returned = counts.returns();
  EXPECT_EQ(std::count(returned.begin(), returned.end(), 2), 2);  // both headers
  EXPECT_EQ(counts.takes(), returned);
}

}  // namespace
}  // namespace lagscan
