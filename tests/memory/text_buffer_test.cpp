#include "memory/text_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "storage_counts.h"
#include "memory/size_limit_error.h"

namespace lagscan {
namespace {

using testing::heap_source;
using testing::storage_counts;

char_range of(const char* text) { return char_range::of(text); }

const std::string three_hundred(300, 'x');

// A buffer brought into a state, one operation, and what must hold after it:
// the fields, the text, and the sources of the blocks taken and returned by
// the operation alone.
struct text_case {
  const char* name;
  std::function<void(text_buffer&)> setup;
  std::function<void(text_buffer&)> operation;
  std::int32_t capacity;
  std::int32_t length;
  const char* text;  // null: not checked (raw, or the caller writes the text)
  std::vector<int> takes;
  std::vector<int> returns;
};

void nothing(text_buffer&) {}
void owned_abc(text_buffer& b) { b.assign(of("abc")); }

std::string name_of(const ::testing::TestParamInfo<text_case>& param) { return param.param.name; }

class text_buffer_operation : public ::testing::TestWithParam<text_case> {};

TEST_P(text_buffer_operation, leaves_the_fields_text_and_blocks_the_rules_give) {
  const text_case& c = GetParam();
  storage_counts whole_life;
  {
    text_buffer t;
    c.setup(t);
    storage_counts during;
    c.operation(t);
    EXPECT_EQ(t.capacity, c.capacity);
    EXPECT_EQ(t.length, c.length);
    if (c.text != nullptr) {
      EXPECT_STREQ(t.buffer, c.text);
    }
    EXPECT_EQ(during.takes(), c.takes);
    EXPECT_EQ(during.returns(), c.returns);
  }
  // Every block went back to the source that served it.
  EXPECT_EQ(whole_life.takes(), whole_life.returns());
}

INSTANTIATE_TEST_SUITE_P(
    edge_cases, text_buffer_operation,
    ::testing::Values(
        text_case{"assigning_three_characters_reserves_four_bytes_from_slot_1", nothing,
                  [](text_buffer& b) { b.assign(of("abc")); }, 4, 4, "abc", {1}, {}},
        text_case{"assigning_300_characters_rounds_to_a_512_byte_heap_block", nothing,
                  [](text_buffer& b) { b.assign({three_hundred.data(), three_hundred.data() + 300}); }, 512, 301,
                  three_hundred.c_str(), {heap_source}, {}},
        text_case{"assigning_an_empty_range_to_an_owned_buffer_keeps_its_block", owned_abc,
                  [](text_buffer& b) { b.assign(of("")); }, 4, 1, "", {}, {}},
        text_case{"assigning_an_empty_range_to_an_empty_buffer_takes_no_block", nothing,
                  [](text_buffer& b) { b.assign(of("")); }, 0, 1, "", {}, {}},
        text_case{"assigning_a_shorter_text_reuses_the_block", owned_abc,
                  [](text_buffer& b) { b.assign(of("z")); }, 4, 2, "z", {}, {}},
        text_case{"assigning_a_longer_text_replaces_the_block", owned_abc,
                  [](text_buffer& b) { b.assign(of("abcdefgh")); }, 9, 9, "abcdefgh", {2}, {1}},
        text_case{"appending_an_empty_range_changes_nothing", owned_abc,
                  [](text_buffer& b) { b.append(of("")); }, 4, 4, "abc", {}, {}},
        text_case{"appending_to_the_empty_buffer_takes_exactly_the_new_length", nothing,
                  [](text_buffer& b) { b.append(of("abc")); }, 4, 4, "abc", {1}, {}},
        text_case{"appending_grows_to_exactly_what_is_needed", owned_abc,
                  [](text_buffer& b) { b.append(of("de")); }, 6, 6, "abcde", {1}, {1}},
        text_case{"append_grown_of_five_bytes_to_the_empty_text_reserves_twelve", nothing,
                  [](text_buffer& b) { b.append_grown(of("hello")); }, 12, 6, "hello", {2}, {}},
        text_case{"append_grown_doubles_the_needed_length", owned_abc,
                  [](text_buffer& b) { b.append_grown(of("de")); }, 12, 6, "abcde", {2}, {1}},
        text_case{"append_grown_of_nothing_does_nothing", owned_abc,
                  [](text_buffer& b) { b.append_grown(of("")); }, 4, 4, "abc", {}, {}},
        text_case{"reserve_of_the_current_capacity_does_nothing", owned_abc,
                  [](text_buffer& b) { b.reserve(4, true); }, 4, 4, "abc", {}, {}},
        text_case{"reserve_of_zero_leaves_the_raw_state", owned_abc, [](text_buffer& b) { b.reserve(0, true); },
                  0, 0, nullptr, {}, {1}},
        text_case{"reserve_on_the_empty_buffer_leaves_the_length_to_the_caller", nothing,
                  [](text_buffer& b) { b.reserve(100, true); }, 100, 1, nullptr, {13}, {}},
        text_case{"reserve_with_keep_copies_into_a_larger_block", owned_abc,
                  [](text_buffer& b) { b.reserve(300, true); }, 512, 4, "abc", {heap_source}, {1}},
        text_case{"reserve_replaces_the_block_even_when_rounding_gives_the_same_capacity",
                  [](text_buffer& b) { b.assign({three_hundred.data(), three_hundred.data() + 300}); },
                  [](text_buffer& b) { b.reserve(400, true); }, 512, 301, three_hundred.c_str(), {heap_source},
                  {heap_source}},
        text_case{"release_returns_the_block_and_leaves_the_raw_state", owned_abc,
                  [](text_buffer& b) { b.release(); }, 0, 0, nullptr, {}, {1}},
        text_case{"copy_from_a_text_of_the_same_length_copies_in_place", owned_abc,
                  [](text_buffer& b) {
                    text_buffer other(of("xyz"));
                    b.copy_from(other);
                  },
                  4, 4, "xyz", {1}, {1}},  // other's own block only
        text_case{"copy_from_a_text_of_another_length_takes_a_fresh_block_even_when_the_old_would_do",
                  [](text_buffer& b) { b.assign(of("abcdefgh")); },
                  [](text_buffer& b) {
                    text_buffer other(of("xy"));
                    b.copy_from(other);
                  },
                  3, 3, "xy", {1, 1}, {1, 2}},  // other's block, then the fresh one
        text_case{"copy_from_a_raw_text_releases", owned_abc,
                  [](text_buffer& b) {
                    text_buffer other(text_buffer::raw);
                    b.copy_from(other);
                  },
                  0, 0, nullptr, {}, {1}},
        text_case{"copy_from_itself_does_nothing", owned_abc, [](text_buffer& b) { b.copy_from(b); }, 4, 4, "abc",
                  {}, {}},
        text_case{"copy_from_the_empty_text_into_the_empty_text_takes_no_block", nothing,
                  [](text_buffer& b) {
                    text_buffer other;
                    b.copy_from(other);
                  },
                  0, 1, "", {}, {}}),
    name_of);

TEST(text_buffer, constructed_from_an_empty_range_is_the_empty_text_without_a_block) {
  storage_counts counts;
  text_buffer t(of(""));
  EXPECT_EQ(t.capacity, 0);
  EXPECT_EQ(t.length, 1);
  EXPECT_STREQ(t.c_str(), "");
  EXPECT_TRUE(counts.takes().empty());
}

TEST(text_buffer, empty_texts_share_one_zero_byte_that_stays_zero) {
  text_buffer a;
  text_buffer b;
  a.assign(of(""));
  b.copy_from(a);
  EXPECT_EQ(a.buffer, b.buffer);
  EXPECT_EQ(*a.buffer, '\0');
}

TEST(text_buffer, a_raw_buffer_accepts_assign_and_becomes_owned) {
  text_buffer t(text_buffer::raw);
  t.assign(of("ab"));
  EXPECT_EQ(t.capacity, 3);
  EXPECT_STREQ(t.c_str(), "ab");
}

TEST(text_buffer, shrinking_reserve_keeps_the_length_within_the_block) {
  text_buffer t(of("abcdefgh"));
  t.reserve(4, true);
  EXPECT_EQ(t.capacity, 4);
  EXPECT_EQ(t.length, 4);
  EXPECT_STREQ(t.c_str(), "abc");
}

// The shared zero byte must never receive anything but a zero: the first
// byte pushed onto the empty text goes to a block of its own.
TEST(text_buffer, push_byte_grown_on_the_empty_text_moves_it_to_an_eight_byte_block) {
  text_buffer t;
  t.push_byte_grown('x');
  EXPECT_EQ(t.capacity, 8);
  EXPECT_EQ(t.length, 2);
  EXPECT_EQ(t.buffer[0], '\0');
  EXPECT_EQ(t.buffer[1], 'x');
  text_buffer fresh;
  EXPECT_EQ(*fresh.buffer, '\0');
  EXPECT_NE(fresh.buffer, t.buffer);
}

TEST(text_buffer, push_byte_grown_on_a_full_block_doubles_it) {
  text_buffer t(of("abc"));  // capacity 4 = length
  t.push_byte_grown('d');
  EXPECT_EQ(t.capacity, 8);
  EXPECT_EQ(t.length, 5);
  EXPECT_EQ(std::memcmp(t.buffer, "abc\0d", 5), 0);
}

TEST(text_buffer, growth_by_appends_keeps_every_byte_appended_before) {
  text_buffer t(of("0123456789"));
  for (int i = 0; i < 40; ++i) t.append(of("ab"));
  std::string expected = "0123456789";
  for (int i = 0; i < 40; ++i) expected += "ab";
  EXPECT_EQ(std::string(t.c_str()), expected);
  EXPECT_EQ(t.length, static_cast<std::int32_t>(expected.size()) + 1);
}

// The limits of the 32-bit fields are checked before anything is touched,
// so ranges that only pretend to be that long are enough.
struct limit_case {
  const char* name;
  std::function<void(text_buffer&)> operation;
};

class text_buffer_limit : public ::testing::TestWithParam<limit_case> {};

TEST_P(text_buffer_limit, raises_text_too_large_instead_of_wrapping_the_fields) {
  text_buffer t(of("abc"));
  storage_counts counts;
  try {
    GetParam().operation(t);
    FAIL() << "no error raised";
  } catch (const size_limit_error& error) {
    EXPECT_STREQ(error.message(), "Text too large");
  }
  EXPECT_EQ(t.capacity, 4);
  EXPECT_STREQ(t.c_str(), "abc");
  EXPECT_TRUE(counts.takes().empty());  // refused before any storage is asked for
}

// A range of n bytes that is never read: only its length is looked at. The
// end is made from the address, as arithmetic on the pointer would leave the
// array.
const char* far = "far";
char_range pretended(std::int64_t n) {
  return {far, reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(far) + static_cast<std::uintptr_t>(n))};
}

INSTANTIATE_TEST_SUITE_P(
    limits, text_buffer_limit,
    ::testing::Values(limit_case{"reserve", [](text_buffer& b) { b.reserve(text_buffer::max_bytes + 1, true); }},
                      limit_case{"assign", [](text_buffer& b) { b.assign(pretended(text_buffer::max_bytes)); }},
                      limit_case{"append", [](text_buffer& b) { b.append(pretended(text_buffer::max_bytes)); }},
                      limit_case{"append_grown",
                                 [](text_buffer& b) { b.append_grown(pretended(text_buffer::max_bytes)); }}),
    [](const ::testing::TestParamInfo<limit_case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace lagscan
