#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "memory/storage_counts.h"
#include "runtime/per_thread.h"
#include "streams/except_3.h"
#include "streams/file_in.h"
#include "support/temp_dir.h"

namespace lagscan {
namespace {

using lagscan::testing::temp_dir;

struct numbers_case {
  const char* name;
  std::string bytes;
  std::vector<double> values;
};

void PrintTo(const numbers_case& c, std::ostream* os) { *os << c.name; }

class read_numbers_cases : public ::testing::TestWithParam<numbers_case> {};

TEST_P(read_numbers_cases, keeps_the_second_token_of_each_pair) {
  temp_dir dir;
  std::string path = dir.write("data.xy", GetParam().bytes);
  real_array values;
  values.append(-1.0);  // values already there stay
  read_numbers(values, path.c_str());
  ASSERT_EQ(values.count, static_cast<std::int32_t>(GetParam().values.size()) + 1);
  EXPECT_EQ(values[0], -1.0);
  for (std::size_t i = 0; i < GetParam().values.size(); ++i) {
    double expected = GetParam().values[i];
    double got = values[static_cast<std::int32_t>(i) + 1];
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(got)) << "value " << i;
    } else {
      EXPECT_EQ(got, expected) << "value " << i;
    }
  }
}

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    files, read_numbers_cases,
    ::testing::Values(
        numbers_case{"empty_file", "", {}},
        numbers_case{"only_space_and_comments", " \n\t' c\n/* c */\r\n", {}},
        numbers_case{"four_tokens", "1 2 3 4", {2, 4}},
        numbers_case{"odd_token_count_ends_with_zero", "1 2 3", {2, 0}},
        numbers_case{"single_token", "7", {0}},
        numbers_case{"pair_spans_lines", "1\n2\n3\n4\n", {2, 4}},
        numbers_case{"crlf_line_ends", "1 2\r\n3 4\r\n", {2, 4}},
        numbers_case{"nul_reads_as_space", std::string("1\0" "2 3 4", 7), {2, 4}},
        numbers_case{"comment_after_pair", "1 2 ' 9 9\n3 4\n", {2, 4}},
        numbers_case{"nested_block_comment", "/* a /* b */ 9 */ 1 2", {2}},
        numbers_case{"stray_close_is_a_token", "*/ 5 1 2", {5, 2}},
        numbers_case{"comma_stops_conversion", "1 1,5", {1.0}},
        numbers_case{"word_reads_as_zero", "1 abc", {0.0}},
        numbers_case{"vertical_tab_belongs_to_token", "1 2\v3 4 5", {2, 5}},
        numbers_case{"form_feed_belongs_to_token", "1 6\f 4 5", {6, 5}},
        numbers_case{"exponent_and_sign", "1 -2.5e-3 2 +4", {-2.5e-3, 4}},
        numbers_case{"hex_float", "1 0x1p3", {8}},
        numbers_case{"infinity_and_nan", "1 inf 2 -INFINITY 3 nan", {inf, -inf, nan}},
        numbers_case{"overflow_gives_infinity", "1 1e400 2 -1e400", {inf, -inf}},
        numbers_case{"tiny_gives_subnormal_or_zero", "1 4e-320 2 1e-400", {4e-320, 0.0}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(read_numbers, missing_file_raises_cannot_open_with_its_path) {
  temp_dir dir;
  std::string path = (dir.path() / "missing.xy").string();
  real_array values;
  try {
    read_numbers(values, path.c_str());
    FAIL() << "no error for a missing file";
  } catch (except_3* e) {
    std::string expected = " Cannot open file " + path;
    for (char& c : expected) c = c == '/' ? '\\' : c;
    EXPECT_EQ(std::string(e->text.c_str()), expected);
    release_error(e);
  }
  EXPECT_EQ(values.count, 0);
}

// A file of exactly n bytes (n >= 4): the pair "1 2" and then line
// comments, so that reading it takes no heap block but its buffer.
std::string pair_and_remarks(std::size_t n) {
  std::string text = "1 2\n";
  const std::string remark = "' a remark that fills the file a line at a time, as notes do ......\n";
  while (text.size() + remark.size() <= n) text += remark;
  if (text.size() < n) text += "'" + std::string(n - text.size() - 2, '.') + "\n";
  text.resize(n, '\n');
  return text;
}

struct block_case {
  const char* name;
  std::size_t file_bytes;
  std::uint64_t block_bytes;
};

void PrintTo(const block_case& c, std::ostream* os) { *os << c.name; }

class read_buffer : public ::testing::TestWithParam<block_case> {};

// The buffer holds a piece and its terminator in one block of 256 KiB, a
// size of heap_3 (one byte more would take a block of twice the size); a
// smaller file takes a block for itself and its terminator.
TEST_P(read_buffer, is_one_block_of_256_kib_at_most) {
  temp_dir dir;
  std::string path = dir.write("remarks.xy", pair_and_remarks(GetParam().file_bytes));
  real_array values;
  testing::storage_counts counts;
  read_numbers(values, path.c_str());
  EXPECT_EQ(counts.heap_block_sizes(), std::vector<std::uint64_t>{GetParam().block_bytes});
  ASSERT_EQ(values.count, 1);
  EXPECT_EQ(values[0], 2.0);
}

constexpr std::size_t kib = 1024;

INSTANTIATE_TEST_SUITE_P(
    files, read_buffer,
    ::testing::Values(block_case{"smaller_than_the_buffer", 1000, 1 * kib},
                      block_case{"one_byte_short_of_the_buffer", 256 * kib - 1, 256 * kib},
                      block_case{"as_long_as_the_buffer", 256 * kib, 256 * kib},
                      block_case{"several_buffers_long", 3 * 256 * kib + 100, 256 * kib}),
    [](const auto& row) { return std::string(row.param.name); });

// With the calling thread's token buffer missing (as when start-up could
// not make it), a file read in pieces must give the message of a whole load:
// that cleans the whole text first, so an unclosed comment anywhere wins
// over the missing scratch, which only taking a token finds.
class without_token_scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    threads = token_buffers().count;
    release_token_buffers();
  }
  void TearDown() override { make_token_buffers(threads); }

  std::int32_t threads = 0;
};

struct scratch_case {
  const char* name;
  std::string bytes;
  const char* message;  // "" for none
};

// Many short lines, so that the file is several default buffers long.
std::string pairs(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += std::to_string(i) + " " + std::to_string(i % 7) + ".5\n";
  return text;
}

TEST_F(without_token_scratch, read_numbers_raises_what_a_whole_load_raises) {
  const std::string many = pairs(100000);  // about 1 MiB
  const scratch_case cases[] = {
      {"unclosed_after_the_first_piece", many + "/* never closed\n" + pairs(10), " Unclosed comment block"},
      {"unclosed_in_the_last_bytes", many + "/* never closed", " Unclosed comment block"},
      {"unclosed_inside_a_closed_one", "/* /*\n*/\n" + many, " Unclosed comment block"},
      {"unclosed_before_any_token", "/*\n" + many, " Unclosed comment block"},
      {"closed_comments_only", "' 1 2\n/* 3\n4 */\n", ""},
      {"tokens_and_closed_comments", many + "/* 1\n2 */ ' 3\n", " No per-thread scratch"},
      {"one_x_without_its_y", "/* a */ 1\n", " No per-thread scratch"},
  };
  temp_dir dir;
  for (const scratch_case& c : cases) {
    std::string path = dir.write("data.xy", c.bytes);
    for (std::int32_t buffer : {0, 5, 64, 4096}) {
      std::uint64_t blocks_before = block_storage::thread_counters().blocks_out();
      std::string message;
      {
        real_array values;
        try {
          if (buffer == 0) {
            read_numbers(values, path.c_str());
          } else {
            read_numbers(values, path.c_str(), buffer);
          }
        } catch (except_3* e) {
          message = e->text.c_str();
          release_error(e);
        }
        EXPECT_EQ(values.count, 0) << c.name << ", buffer " << buffer;
      }
      EXPECT_EQ(message, c.message) << c.name << ", buffer " << buffer << " (0: the default)";
      // An error dropped for the unclosed comment is released too.
      EXPECT_EQ(block_storage::thread_counters().blocks_out(), blocks_before) << c.name << ", buffer " << buffer;
    }
  }
}

TEST(file_in, open_alone_leaves_the_file_open_and_unread) {
  temp_dir dir;
  std::string path = dir.write("a.xy", "1 2\n");
  file_in in(char_range::of(path.c_str()), file_in::open_now);
  EXPECT_NE(in.handle, nullptr);
  EXPECT_EQ(in.content.text_length(), 0);
  EXPECT_EQ(in.at_end(), 1);
}

TEST(file_in, open_alone_on_a_missing_file_raises) {
  temp_dir dir;
  std::string path = (dir.path() / "none.xy").string();
  EXPECT_THROW(
      {
        try {
          file_in in(char_range::of(path.c_str()), file_in::open_now);
        } catch (except_3* e) {
          release_error(e);
          throw;
        }
      },
      except_3*);
}

TEST(file_in, loading_closes_the_file_and_keeps_exactly_the_bytes_read) {
  temp_dir dir;
  std::string path = dir.write("a.xy", "1 2\r\n");
  file_in in(char_range::of(path.c_str()), file_in::open_now | file_in::load_all);
  EXPECT_EQ(in.handle, nullptr);
  EXPECT_EQ(std::string(in.content.text.c_str()), "1 2 \n");
  EXPECT_EQ(in.content.text.length, 6);
}

TEST(file_in, keep_cr_leaves_carriage_returns) {
  temp_dir dir;
  std::string path = dir.write("a.xy", std::string("1\r\0", 3));
  file_in in(char_range::of(path.c_str()), file_in::open_now | file_in::load_all | file_in::keep_cr);
  EXPECT_EQ(std::string(in.content.text.c_str(), 3), "1\r ");
}

TEST(file_in, serial_numbers_count_up_by_one) {
  temp_dir dir;
  std::string path = dir.write("a.xy", "");
  file_in first(char_range::of(path.c_str()), 0);
  file_in second(char_range::of(path.c_str()), 0);
  EXPECT_EQ(second.serial(), first.serial() + 1);
  EXPECT_GE(first.serial(), 1);
}

TEST(file_in, get_char_at_the_end_keeps_answering_nul) {
  temp_dir dir;
  std::string path = dir.write("a.xy", "ab");
  file_in in(char_range::of(path.c_str()), file_in::open_now | file_in::load_all);
  EXPECT_EQ(in.get_char(), 'a');
  EXPECT_EQ(in.get_char(), 'b');
  for (int i = 0; i < 3; ++i) EXPECT_EQ(in.get_char(), '\0');
  EXPECT_EQ(in.position, 2);
}

TEST(file_in, close_empties_the_text_and_reopen_loads_it_again) {
  temp_dir dir;
  std::string path = dir.write("a.xy", "5 6");
  file_in in(char_range::of(path.c_str()), file_in::open_now | file_in::load_all);
  in.close();
  EXPECT_EQ(in.at_end(), 1);
  EXPECT_EQ(in.content.text_length(), 0);
  ASSERT_EQ(in.open(raise_on_fail), 1);
  EXPECT_EQ(std::string(in.next_token().text.c_str()), "5");
  EXPECT_EQ(std::string(in.next_token().text.c_str()), "6");
  EXPECT_EQ(std::string(in.next_token().text.c_str()), "");
}

TEST(file_in, cursor_answers_as_a_file) {
  temp_dir dir;
  std::string path = dir.write("a.xy", "");
  file_in in(char_range::of(path.c_str()), 0);
  sstring_in& cursor = in;
  EXPECT_EQ(cursor.is_file(), 1);
  EXPECT_EQ(std::string(cursor.source_name()), std::string(in.path()));
  EXPECT_EQ(cursor.serial(), in.serial_number);

  sstring_in plain;
  plain.attach("x");
  EXPECT_EQ(plain.is_file(), 0);
  EXPECT_STREQ(plain.source_name(), "sstring_in");
  EXPECT_EQ(plain.serial(), -1);
}

TEST(file_base, report_on_fail_writes_the_line_and_answers_zero) {
  temp_dir dir;
  std::string path = (dir.path() / "none.xy").string();
  file_base f;
  f.mode.assign(char_range::of("rb"));
  ::testing::internal::CaptureStdout();
  int opened = f.open(char_range::of(path.c_str()), report_on_fail);
  std::fflush(stdout);
  std::string written = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(written, "Cannot open file " + std::string(f.path()) + "\n");
}

TEST(file_base, raise_wins_over_report_and_writes_nothing) {
  temp_dir dir;
  std::string path = (dir.path() / "none.xy").string();
  file_base f;
  f.mode.assign(char_range::of("rb"));
  ::testing::internal::CaptureStdout();
  bool raised = false;
  try {
    f.open(char_range::of(path.c_str()), raise_on_fail | report_on_fail);
  } catch (except_3* e) {
    raised = true;
    release_error(e);
  }
  std::fflush(stdout);
  EXPECT_TRUE(raised);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace lagscan
