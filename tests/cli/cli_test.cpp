// The command as users run it: exact standard output, exit status 1, nothing
// on standard error, and data files left exactly as they were (they are
// opened for update).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "cli/command_fixture.h"

namespace lagscan::testing {
namespace {

struct case_row {
  const char* name;
  std::vector<std::string> args;
  std::string expected;
};

void PrintTo(const case_row& row, std::ostream* os) { *os << row.name; }

class command_cases : public command, public ::testing::WithParamInterface<case_row> {};

TEST_P(command_cases, prints_exactly_the_expected_bytes) {
  EXPECT_EQ(run(GetParam().args).out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    outcomes, command_cases,
    ::testing::Values(
        case_row{"no_arguments", {}, usage},
        case_row{"one_argument", {"up.xy"}, usage},
        case_row{"two_arguments", {"up.xy", "down.xy"}, usage},
        case_row{"extra_arguments_ignored", {"up.xy", "down.xy", "3", "junk"}, result("0.818181818")},
        case_row{"even_s_reported_before_missing_files", {"nope1.xy", "nope2.xy", "4"}, even_s},
        case_row{"zero_s", {"up.xy", "down.xy", "0"}, even_s},
        case_row{"non_numeric_s", {"up.xy", "down.xy", "abc"}, even_s},
        case_row{"empty_s", {"up.xy", "down.xy", ""}, even_s},
        case_row{"hex_s_reads_as_zero", {"up.xy", "down.xy", "0x7"}, even_s},
        case_row{"s_below_int_range_clamps_to_even", {"up.xy", "down.xy", "-99999999999"}, even_s},
        case_row{"trailing_text_after_s", {"up.xy", "down.xy", "7x"}, result("0.931034483")},
        case_row{"blank_and_plus_before_s", {"up.xy", "down.xy", " +5"}, result("0.9")},
        case_row{"fractional_s_truncates", {"up.xy", "down.xy", "5.9"}, result("0.9")},
        case_row{"negative_odd_s", {"up.xy", "down.xy", "-3"}, "s needs to be a positive odd number\n"},
        case_row{"s_above_int_range_is_too_large", {"up.xy", "down.xy", "99999999999"}, "s is too large\n"},
        case_row{"s_just_past_window_limit", {"up.xy", "down.xy", "1073741825"}, "s is too large\n"},
        case_row{"first_file_missing", {"missing.xy", "also_missing.xy", "3"}, " Cannot open file missing.xy\n"},
        case_row{"second_file_missing", {"up.xy", "missing.xy", "3"}, " Cannot open file missing.xy\n"},
        case_row{"slashes_printed_as_backslashes", {"sub/dir/missing.xy", "up.xy", "3"},
                 " Cannot open file sub\\dir\\missing.xy\n"},
        case_row{"quotes_stripped_from_path", {"\"missing.xy\"", "up.xy", "3"}, " Cannot open file missing.xy\n"},
        case_row{"counts_differ", {"up.xy", "four.xy", "3"}, counts_differ},
        case_row{"s1_plain_normalised_product", {"up.xy", "down.xy", "1"}, result("0.714285714")},
        case_row{"s3_worked_example", {"up.xy", "down.xy", "3"}, result("0.818181818")},
        case_row{"window_wider_than_overlap", {"up.xy", "down.xy", "7"}, result("0.931034483")},
        case_row{"identical_sequences", {"up.xy", "up.xy", "1"}, result("1")},
        case_row{"four_way_partial_sums", {"six.xy", "six_other.xy", "3"}, result("0.900042835")},
        case_row{"no_numbers_at_all", {"empty.xy", "comments_only.xy", "3"}, result("0")},
        // Spelled alike on every system:
        case_row{"nan_value", {"up.xy", "nan.xy", "3"}, result("nan")},
        case_row{"negative_nan_value", {"up.xy", "minus_nan.xy", "3"}, result("-nan")},
        case_row{"infinite_value_makes_inf_over_inf", {"up.xy", "inf.xy", "3"}, result("-nan")},
        case_row{"divisor_underflows_to_its_floor", {"up.xy", "tiny.xy", "3"}, result("2e-69")}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(command, unclosed_block_comment_is_reported) {
  data.write("open.xy", "1 2\n/* never closed\n3 4\n");
  EXPECT_EQ(run({"open.xy", "up.xy", "3"}).out, " Unclosed comment block\n");
}

TEST_F(command, read_only_file_cannot_be_opened_for_update) {
  std::string path = data.write("locked.xy", "1 1\n2 2\n3 3\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(run({"locked.xy", "down.xy", "3"}).out, " Cannot open file locked.xy\n");
}

TEST_F(command, files_in_other_directories_and_absolute_paths_open) {
  data.write("sub/dir/up.xy", "1 1\n2 2\n3 3\n");
  std::string absolute = (data.path() / "down.xy").string();
  EXPECT_EQ(run({"sub/dir/up.xy", absolute, "3"}).out, result("0.818181818"));
}

TEST_F(command, crlf_comments_and_pairs_across_lines_read_like_plain_lines) {
  data.write("messy.xy", "' header\r\n1 /* one */ 1\r\n2\r\n2 3 3 ' trailing\r\n");
  EXPECT_EQ(run({"messy.xy", "down.xy", "3"}).out, result("0.818181818"));
}

#ifndef _WIN32
// Windows keeps a process's current directory from being removed.
TEST_F(command, current_directory_that_vanished_is_a_getcwd_error) {
  fs::path doomed = data.path() / "doomed";
  fs::create_directory(doomed);
  std::string up = (data.path() / "up.xy").string();
  std::string down = (data.path() / "down.xy").string();
  auto leave_deleted_directory = [doomed] {
    if (::chdir(doomed.c_str()) != 0 || ::rmdir(doomed.c_str()) != 0) ::_exit(125);
  };
  EXPECT_EQ(run({up, down, "3"}, leave_deleted_directory).out, " getcwd error\n");
}
#endif

TEST_F(command, file_too_large_for_the_text_sizes_is_refused_unread) {
  std::string path = data.write("huge.xy", "");
  fs::resize_file(path, std::uintmax_t{1} << 30);  // sparse: no disk is used
  EXPECT_EQ(run({"huge.xy", "up.xy", "3"}).out, " File too large huge.xy\n");
}

}  // namespace
}  // namespace lagscan::testing
