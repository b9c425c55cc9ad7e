#include "memory/block_storage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "memory/pool_table.h"
#include "platform/process_heap.h"
#include "storage_counts.h"

namespace lagscan {
namespace {

using testing::heap_source;
using testing::storage_counts;

struct routing_case {
  std::uint64_t request;
  int source;  // pool slot, or heap_source
};

class bytes_routing : public ::testing::TestWithParam<routing_case> {};

TEST_P(bytes_routing, goes_to_the_source_its_size_selects_and_comes_back_there) {
  routing_case c = GetParam();
  storage_counts counts;
  void* p = block_storage::allocate_bytes(c.request);
  EXPECT_EQ(counts.takes(), std::vector<int>{c.source});
  block_storage::free_bytes(p, c.request);
  EXPECT_EQ(counts.returns(), std::vector<int>{c.source});
}

INSTANTIATE_TEST_SUITE_P(boundaries, bytes_routing,
                         ::testing::Values(routing_case{0, 0}, routing_case{1, 1}, routing_case{8, 1},
                                           routing_case{9, 2}, routing_case{24, 3}, routing_case{128, 16},
                                           routing_case{257, 33}, routing_case{264, 33},
                                           routing_case{265, heap_source}, routing_case{4096, heap_source}));

class elements_routing : public ::testing::TestWithParam<routing_case> {};

TEST_P(elements_routing, goes_to_the_source_its_count_selects_and_comes_back_there) {
  routing_case c = GetParam();
  storage_counts counts;
  void* p = block_storage::allocate_elements(c.request);
  EXPECT_EQ(counts.takes(), std::vector<int>{c.source});
  block_storage::free_elements(p, c.request);
  EXPECT_EQ(counts.returns(), std::vector<int>{c.source});
}

INSTANTIATE_TEST_SUITE_P(boundaries, elements_routing,
                         ::testing::Values(routing_case{0, 0}, routing_case{1, 1}, routing_case{2, 2},
                                           routing_case{33, 33}, routing_case{34, heap_source},
                                           routing_case{128, heap_source}));

TEST(block_storage, negative_counts_compare_unsigned_and_are_refused_by_the_heap_not_served_by_a_pool) {
  storage_counts counts;
  EXPECT_THROW(block_storage::allocate_elements(static_cast<std::uint64_t>(std::int64_t{-3})),
               platform::out_of_storage);
  EXPECT_THROW(block_storage::allocate_bytes(static_cast<std::uint64_t>(std::int64_t{-3})),
               platform::out_of_storage);
  EXPECT_TRUE(counts.takes().empty());
}

TEST(block_storage, a_pooled_block_lies_in_a_chunk_of_the_slot_pool) {
  for (std::uint64_t n : {1u, 17u, 200u, 264u}) {
    void* p = block_storage::allocate_bytes(n);
    block_pool& pool = pool_table::instance().slot(block_storage::slot_for_bytes(n));
    bool found = false;
    for (chunk* c : pool.chunk_list) {
      found = found || (c->data <= static_cast<char*>(p) && static_cast<char*>(p) <= c->data + pool.span);
    }
    EXPECT_TRUE(found) << n;
    EXPECT_GE(static_cast<std::uint64_t>(pool.block_size), n);
    block_storage::free_bytes(p, n);
  }
}

struct rounding_case {
  std::uint64_t request;
  std::uint64_t capacity;
};

class round_bytes_rule : public ::testing::TestWithParam<rounding_case> {};

TEST_P(round_bytes_rule, keeps_pooled_sizes_exact_and_rounds_heap_sizes_to_their_class) {
  EXPECT_EQ(block_storage::round_bytes(GetParam().request), GetParam().capacity);
}

INSTANTIATE_TEST_SUITE_P(boundaries, round_bytes_rule,
                         ::testing::Values(rounding_case{0, 0}, rounding_case{3, 3}, rounding_case{263, 263},
                                           rounding_case{264, 264}, rounding_case{265, 512},
                                           rounding_case{301, 512}, rounding_case{512, 512},
                                           rounding_case{513, 1024},
                                           rounding_case{std::uint64_t{1} << 35, std::uint64_t{1} << 35}));

class round_elements_rule : public ::testing::TestWithParam<rounding_case> {};

TEST_P(round_elements_rule, keeps_pooled_counts_exact_and_rounds_heap_counts_to_a_class) {
  EXPECT_EQ(block_storage::round_elements(GetParam().request), GetParam().capacity);
}

INSTANTIATE_TEST_SUITE_P(boundaries, round_elements_rule,
                         ::testing::Values(rounding_case{0, 0}, rounding_case{1, 1}, rounding_case{33, 33},
                                           rounding_case{34, 64}, rounding_case{64, 64}, rounding_case{65, 128},
                                           rounding_case{1000, 1024}));

TEST(block_storage, rounding_beyond_the_largest_heap_class_is_refused) {
  EXPECT_THROW(block_storage::round_bytes((std::uint64_t{1} << 35) + 1), platform::out_of_storage);
  EXPECT_THROW(block_storage::round_elements(std::uint64_t{1} << 33), platform::out_of_storage);
}

}  // namespace
}  // namespace lagscan
