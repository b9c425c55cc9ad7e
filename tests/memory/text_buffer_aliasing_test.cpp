// A text assigned or appended to itself: growing frees the block the bytes
// are read from, so the copy must come from the new block (found as heap
// uses after free, by the containers fuzz target for append and by review
// for assign).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "memory/text_buffer.h"

namespace lagscan {
namespace {

struct self_append_case {
  const char* name;
  void (*append)(text_buffer&, char_range);
};

class appending_own_text : public ::testing::TestWithParam<self_append_case> {};

TEST_P(appending_own_text, that_must_grow_copies_the_bytes_it_had) {
  // 300 bytes need a 512-byte heap block; appending 250 of them again needs
  // 551 bytes, so the block is replaced while the range still points into it.
  std::string original(300, 'a');
  for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<char>('a' + i % 26);
  text_buffer t(char_range{original.data(), original.data() + original.size()});
  ASSERT_EQ(t.capacity, 512);
  GetParam().append(t, {t.buffer + 20, t.buffer + 270});
  ASSERT_GT(t.capacity, 512) << "the case must make the text grow";
  std::string expected = original + original.substr(20, 250);
  EXPECT_EQ(std::string(t.c_str(), static_cast<std::size_t>(t.size())), expected);
  EXPECT_EQ(t.length, static_cast<std::int32_t>(expected.size()) + 1);
  EXPECT_EQ(t.buffer[t.length - 1], '\0');
}

TEST_P(appending_own_text, that_fits_copies_without_growing) {
  text_buffer t(char_range::of("abcdef"));
  t.reserve(64, true);
  GetParam().append(t, {t.buffer + 1, t.buffer + 4});
  EXPECT_STREQ(t.c_str(), "abcdefbcd");
  EXPECT_EQ(t.capacity, 64);
}

void plain_append(text_buffer& text, char_range range) { text.append(range); }
void grown_append(text_buffer& text, char_range range) { text.append_grown(range); }

INSTANTIATE_TEST_SUITE_P(operations, appending_own_text,
                         ::testing::Values(self_append_case{"append", plain_append},
                                           self_append_case{"append_grown", grown_append}),
                         [](const auto& row) { return std::string(row.param.name); });

// Ranges of the buffer's own text, given as offsets into "abcdef" (capacity
// 7 after construction, so the text and its terminator fill the block).
struct self_assign_case {
  const char* name;
  std::int32_t begin;
  std::int32_t end;
  bool grows;
};

void PrintTo(const self_assign_case& c, std::ostream* os) { *os << c.name; }

class assigning_own_text : public ::testing::TestWithParam<self_assign_case> {};

TEST_P(assigning_own_text, gives_the_bytes_of_the_range) {
  const self_assign_case& c = GetParam();
  text_buffer t(char_range::of("abcdef"));
  ASSERT_EQ(t.capacity, 7);
  std::string expected(t.buffer + c.begin, t.buffer + c.end);
  t.assign({t.buffer + c.begin, t.buffer + c.end});
  EXPECT_EQ(t.capacity > 7, c.grows);
  EXPECT_EQ(std::string(t.c_str(), static_cast<std::size_t>(t.size())), expected);
  EXPECT_EQ(t.length, c.end - c.begin + 1);
  EXPECT_EQ(t.buffer[t.length - 1], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    ranges, assigning_own_text,
    ::testing::Values(
        // Text and terminator: one byte more than the block holds, so the
        // block is replaced while the range still points into it.
        self_assign_case{"whole_block", 0, 7, true}, self_assign_case{"whole_text", 0, 6, false},
        self_assign_case{"tail", 2, 6, false}, self_assign_case{"head", 0, 3, false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace lagscan
