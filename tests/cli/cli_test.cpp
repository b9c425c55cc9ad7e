// The command as users run it: exact standard output, exit status 1, nothing
// on standard error, and data files left exactly as they were (they are
// opened for update).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

const std::string usage =
    "\n*** Error - three arguments needed *** \n\nUsage:\n\n   lagscan file1.xy file2.xy s\n\nwhere\n\n"
    "   s is an odd number";
const std::string even_s = "s needs to be an odd number\n";
const std::string counts_differ = "Number of points in files needs to be the same\n";

std::string result(const std::string& value) { return "\nCross Correlation " + value + "\n"; }

struct file_state {
  std::string bytes;  // the contents of small files; large ones by size and time
  off_t size;
  struct timespec mtime;
};

// Every regular file under dir with its bytes and modification time.
std::map<std::string, file_state> snapshot(const fs::path& dir) {
  std::map<std::string, file_state> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    struct stat st{};
    ::stat(entry.path().c_str(), &st);
    bool small = st.st_size <= (1 << 20);
    files[entry.path().string()] = {small ? read_file(entry.path()) : std::string(), st.st_size, st.st_mtim};
  }
  return files;
}

class command : public ::testing::Test {
 protected:
  // Runs lagscan in the data directory and checks what holds for every run.
  process_result run(const std::vector<std::string>& args, const std::function<void()>& in_child = {}) {
    auto before = snapshot(data.path());
    process_result r = run_process(LAGSCAN_EXE, args, data.path(), in_child);
    EXPECT_EQ(r.status, 1) << "lagscan ends with status 1 in every case";
    EXPECT_EQ(r.err, "") << "nothing may be written to standard error";
    auto after = snapshot(data.path());
    EXPECT_EQ(before.size(), after.size());
    for (const auto& [name, state] : before) {
      if (after.count(name) == 0) {
        ADD_FAILURE() << name << " vanished";
        continue;
      }
      EXPECT_EQ(after[name].bytes, state.bytes) << name << " was changed";
      EXPECT_EQ(after[name].size, state.size) << name << " was changed";
      EXPECT_EQ(after[name].mtime.tv_sec, state.mtime.tv_sec) << name << " was touched";
      EXPECT_EQ(after[name].mtime.tv_nsec, state.mtime.tv_nsec) << name << " was touched";
    }
    return r;
  }

  void SetUp() override {
    data.write("up.xy", "1 1\n2 2\n3 3\n");
    data.write("down.xy", "1 3\n2 2\n3 1\n");
    data.write("four.xy", "1 1\n2 2\n3 3\n4 4\n");
    data.write("six.xy", "1 1\n2 2\n3 3\n4 4\n5 5\n6 6\n");
    data.write("six_other.xy", "1 2\n2 1\n3 0\n4 1\n5 2\n6 3\n");
    data.write("empty.xy", "");
    data.write("comments_only.xy", "' nothing here\n/* nor /* here */ */\n");
  }

  temp_dir data;
};

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
        case_row{"no_numbers_at_all", {"empty.xy", "comments_only.xy", "3"}, result("0")}),
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

TEST_F(command, file_too_large_for_the_text_sizes_is_refused_unread) {
  std::string path = data.write("huge.xy", "");
  ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
  EXPECT_EQ(run({"huge.xy", "up.xy", "3"}).out, " File too large huge.xy\n");
}

}  // namespace
}  // namespace lagscan::testing
