#include "memory/object_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
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
  array.destroy();
  EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, 3, 4, -4, -3, -2, -1}));
}

TEST(object_array, destroying_destroys_the_elements_last_first_and_frees_the_block_once) {
  tracer::reset(-1);
  {
    object_array<tracer> array;
    array.construct(3);
    array.destroy();  // at exit, say; the destructor must then free nothing
    EXPECT_EQ(array.buffer, nullptr);
    EXPECT_EQ(array.capacity, 0);
  }
  EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, 3, -3, -2, -1}));
}

TEST(object_array, a_failed_construction_destroys_the_built_elements_last_first_and_frees_the_block) {
  tracer::reset(3);
  heap_3& heap = heap_3::instance();
  std::uint64_t bytes = 8 + 5 * sizeof(tracer);
  heap_3::size_class& k = heap.class_record(heap_3::class_of(bytes));
  EXPECT_THROW(object_array<tracer>::create(5), std::runtime_error);
  EXPECT_EQ(tracer::events, (std::vector<int>{1, 2, -2, -1}));
  // The block went back to heap_3, which caches it: it is the next one out.
  ASSERT_GT(k.cached, 0);
  void* cached = k.entries[k.cached - 1].block;
  void* again = heap.allocate(bytes);
  EXPECT_EQ(again, cached);
  heap.free(again);
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
