#include "memory/object_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage_counts.h"
#include "streams/except_3.h"

namespace lagscan {
namespace {

using testing::storage_counts;

constinit object_array<text_buffer> constant_initialised_buffers;

// Records construction (+id) and destruction (-id) in order; the id is the
// construction order. Construction number throw_at throws.
struct tracer {
  static inline std::vector<int> events;
  static inline int next_id = 0;
  static inline int throw_at = -1;

  tracer() : id(++next_id) {
    if (id == throw_at) throw std::runtime_error("construction fails");
    events.push_back(id);
  }
  ~tracer() { events.push_back(-id); }

  static void reset(int fail_at) {
    events.clear();
    next_id = 0;
    throw_at = fail_at;
  }

  int id;
  char payload[12];
};

TEST(object_array, create_stores_the_count_before_the_first_element_and_builds_first_to_last) {
  tracer::reset(-1);
  object_array<tracer> array;
  array.buffer = object_array<tracer>::create(4);
  EXPECT_EQ(array.capacity, 0);  // create leaves the fields to the caller
  array.capacity = array.count = 4;
  EXPECT_EQ(array.stored_count(), 4u);
  EXPECT_EQ(reinterpret_cast<const std::uint64_t*>(array.buffer)[-1], 4u);
  EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, 3, 4}));
}

// Either way an array ends destroys its elements last first, once, and
// frees its block once: by the destructor alone, or by an explicit destroy
// (at exit, say) that leaves it empty, after which the destructor must do
// nothing.
struct ending_case {
  const char* name;
  bool destroy_first;
};

void PrintTo(const ending_case& c, std::ostream* os) { *os << c.name; }

// The cache of the class that serves n bytes, holding at least one block, so
// that a block taken and given back leaves its count as it was: one short
// shows a block never freed, one over a block freed twice.
heap_3::size_class& primed_class(std::uint64_t n) {
  heap_3& heap = heap_3::instance();
  heap.free(heap.allocate(n));
  return heap.class_record(heap_3::class_of(n));
}

class object_array_ending : public ::testing::TestWithParam<ending_case> {};

TEST_P(object_array_ending, destroys_the_elements_last_first_and_frees_the_block_once) {
  const ending_case& c = GetParam();
  tracer::reset(-1);
  heap_3::size_class& k = primed_class(8 + 3 * sizeof(tracer));
  std::int64_t cached_before = k.cached;
  {
    object_array<tracer> array;
    array.construct(3);
    if (c.destroy_first) {
      array.destroy();
      EXPECT_EQ(array.buffer, nullptr);
      EXPECT_EQ(array.capacity, 0);
      EXPECT_EQ(array.count, 0);
      EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, 3, -3, -2, -1}));
      EXPECT_EQ(k.cached, cached_before) << "the block went back to heap_3";
    }
  }
  EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, 3, -3, -2, -1}));
  EXPECT_EQ(k.cached, cached_before) << "the block went back to heap_3 once";
}

INSTANTIATE_TEST_SUITE_P(ways, object_array_ending,
                         ::testing::Values(ending_case{"destroy_then_destructor", true},
                                           ending_case{"destructor", false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(object_array, a_failed_construction_destroys_the_built_elements_last_first_and_frees_the_block) {
  tracer::reset(3);
  heap_3::size_class& k = primed_class(8 + 5 * sizeof(tracer));
  std::int64_t cached_before = k.cached;
  EXPECT_THROW(object_array<tracer>::create(5), std::runtime_error);
  EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, -2, -1}));
  EXPECT_EQ(k.cached, cached_before) << "the block create took from the cache went back to it";
}

TEST(object_array, text_buffer_elements_start_raw_and_own_no_storage) {
  storage_counts counts;
  object_array<text_buffer> buffers;
  buffers.resize(3);
  EXPECT_EQ(buffers.capacity, 3);
  EXPECT_EQ(buffers.count, 3);
  for (std::int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(buffers[i].capacity, 0);
    EXPECT_EQ(buffers[i].length, 0);
  }
  EXPECT_TRUE(counts.takes().empty());
}

TEST(object_array, resize_to_the_same_count_keeps_the_elements_and_any_other_count_replaces_them) {
  storage_counts counts;
  object_array<text_buffer> buffers;
  buffers.resize(2);
  buffers[1].assign(char_range::of("kept"));
  text_buffer* first = buffers.buffer;
  buffers.resize(2);
  EXPECT_EQ(buffers.buffer, first);
  EXPECT_STREQ(buffers[1].c_str(), "kept");
  buffers.resize(4);
  EXPECT_EQ(buffers.count, 4);
  EXPECT_EQ(buffers[1].capacity, 0);  // contents are never kept
  EXPECT_EQ(counts.returns(), counts.takes());  // "kept" went back with its elements
  buffers.resize(0);
  EXPECT_EQ(buffers.buffer, nullptr);
  EXPECT_EQ(buffers.capacity, 0);
  EXPECT_EQ(buffers.count, 0);
}

TEST(object_array, string_out_elements_each_take_a_128_byte_text_from_slot_16_and_return_it) {
  storage_counts counts;
  {
    object_array<string_out> tokens;
    tokens.construct(3);
    EXPECT_EQ(tokens.count, 3);
    for (std::int32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(tokens[i].text.capacity, 128);
      EXPECT_STREQ(tokens[i].text.c_str(), "");
    }
    EXPECT_EQ(counts.takes(), (std::vector<int>{16, 16, 16}));
  }
  EXPECT_EQ(counts.returns(), (std::vector<int>{16, 16, 16}));
}

TEST(object_array, an_impossible_count_is_refused_by_the_heap_instead_of_wrapping) {
  tracer::reset(-1);
  EXPECT_THROW(object_array<tracer>::create(UINT64_MAX / 4), platform::out_of_storage);
  EXPECT_TRUE(tracer::events.empty());
}

}  // namespace
}  // namespace lagscan
