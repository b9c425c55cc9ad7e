#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

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
