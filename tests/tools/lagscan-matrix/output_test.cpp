// The outputs of lagscan-matrix (-o, --heatmap): a run that fails at any step
// leaves the folder as it was (an existing table or picture untouched, no new
// file, no temporary file), a run that succeeds replaces them whole, and an
// output that would overwrite an input is refused before anything is read.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#endif

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

class matrix_outputs : public matrix_command {
 protected:
  void SetUp() override {
    data.write("up.xy", "1 1\n2 2\n3 3\n");
    data.write("down.xy", "1 3\n2 2\n3 1\n");
    data.write("four.xy", "1 1\n2 2\n3 3\n4 4\n");
    data.write("list.txt", "up.xy\ndown.xy\n");
    data.write("t.tsv", "the table of an earlier run\n");
    data.write("m.svg", "<svg>the picture of an earlier run</svg>\n");
    fs::create_directory(data.path() / "sub");
  }

  // Every file of the data folder with its bytes.
  std::map<std::string, std::string> folder() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(data.path())) {
      if (entry.is_regular_file()) files[entry.path().filename().string()] = read_file(entry.path());
    }
    return files;
  }
};

struct refusal_row {
  const char* name;
  std::vector<std::string> args;
  std::string err;  // exactly; the status is 2
};

void PrintTo(const refusal_row& row, std::ostream* os) { *os << row.name; }

class output_refused : public matrix_outputs, public ::testing::WithParamInterface<refusal_row> {};

// Run again in the same folder, `lagscan-matrix -o t.tsv 3 *` names its own
// earlier table as an input: it must be refused, not truncated and removed.
TEST_P(output_refused, before_anything_is_read_or_written) {
  const auto before = folder();
  process_result r = matrix(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(folder(), before);
}

const std::string never_overwrites = ": an output never overwrites an input\n";

INSTANTIATE_TEST_SUITE_P(
    cases, output_refused,
    ::testing::Values(
        refusal_row{"table_over_its_own_earlier_table",
                    {"-o", "t.tsv", "3", "down.xy", "m.svg", "t.tsv", "up.xy"},
                    "lagscan-matrix: -o t.tsv is also an input" + never_overwrites},
        refusal_row{"table_over_a_data_file_named_otherwise",
                    {"-o", "./sub/../up.xy", "3", "up.xy", "down.xy"},
                    "lagscan-matrix: -o ./sub/../up.xy is also an input (as up.xy)" + never_overwrites},
        refusal_row{"picture_over_a_data_file", {"--heatmap", "down.xy", "3", "up.xy", "down.xy"},
                    "lagscan-matrix: --heatmap down.xy is also an input" + never_overwrites},
        refusal_row{"table_over_a_file_of_the_list", {"-o", "down.xy", "--files-from", "list.txt", "3"},
                    "lagscan-matrix: -o down.xy is also an input" + never_overwrites},
        refusal_row{"table_over_the_list", {"-o", "list.txt", "--files-from", "list.txt", "3"},
                    "lagscan-matrix: -o list.txt is also an input" + never_overwrites},
        refusal_row{"table_over_the_reference", {"-o", "up.xy", "--against", "up.xy", "3", "down.xy"},
                    "lagscan-matrix: -o up.xy is also an input" + never_overwrites},
        // A file that does not exist yet is compared by its path.
        refusal_row{"table_over_a_missing_input_left_out",
                    {"--keep-going", "-o", "gone.xy", "3", "up.xy", "./gone.xy"},
                    "lagscan-matrix: -o gone.xy is also an input (as ./gone.xy)" + never_overwrites},
        refusal_row{"table_and_picture_in_one_new_file", {"-o", "new.out", "--heatmap", "./new.out", "3", "up.xy"},
                    "lagscan-matrix: --heatmap ./new.out is also the output of -o\n"},
        refusal_row{"table_and_picture_in_one_file", {"-o", "m.svg", "--heatmap", "m.svg", "3", "up.xy"},
                    "lagscan-matrix: --heatmap m.svg is also the output of -o\n"},
        // The groups and the tree are outputs like the table.
        refusal_row{"groups_over_a_data_file", {"--clusters", "1", "--clusters-out", "up.xy", "3", "up.xy", "down.xy"},
                    "lagscan-matrix: --clusters-out up.xy is also an input" + never_overwrites},
        refusal_row{"tree_over_the_picture", {"--heatmap", "m.svg", "--tree-out", "m.svg", "3", "up.xy", "down.xy"},
                    "lagscan-matrix: --tree-out m.svg is also the output of --heatmap\n"}),
    [](const auto& row) { return std::string(row.param.name); });

// A second name for the same file (a hard link here; Windows has them too)
// is the same file.
TEST_F(matrix_outputs, a_link_to_an_input_is_refused) {
  fs::create_hard_link(data.path() / "up.xy", data.path() / "same.xy");
  const auto before = folder();
  process_result r = matrix({"-o", "same.xy", "3", "up.xy", "down.xy"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: -o same.xy is also an input (as up.xy)" + never_overwrites);
  EXPECT_EQ(folder(), before);
}

#ifdef _WIN32
// Windows reads names alike whatever their case.
TEST_F(matrix_outputs, a_name_differing_in_case_only_is_refused) {
  const auto before = folder();
  process_result r = matrix({"-o", "UP.XY", "3", "up.xy", "down.xy"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: -o UP.XY is also an input (as up.xy)" + never_overwrites);
  EXPECT_EQ(folder(), before);
}
#endif

struct failed_run_row {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string err;
  bool full_standard_output = false;  // standard output is /dev/full
};

void PrintTo(const failed_run_row& row, std::ostream* os) { *os << row.name; }

class failed_run : public matrix_outputs, public ::testing::WithParamInterface<failed_run_row> {};

TEST_P(failed_run, leaves_the_folder_as_it_was) {
  const failed_run_row& row = GetParam();
  const auto before = folder();
  std::function<void()> in_child;
#ifndef _WIN32
  if (row.full_standard_output) {
    in_child = [] {
      int fd = ::open("/dev/full", O_WRONLY);
      if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(125);
    };
  }
#else
  if (row.full_standard_output) GTEST_SKIP() << "no /dev/full on Windows";
#endif
  process_result r = matrix(row.args, in_child);
  EXPECT_EQ(r.status, row.status);
  EXPECT_EQ(r.err, row.err);
  EXPECT_EQ(folder(), before) << "a failed run changed the folder";
}

const std::string counts_differ =
    "lagscan-matrix: Number of points in files needs to be the same\nlagscan-matrix: four.xy has 4 values, not 3\n";

INSTANTIATE_TEST_SUITE_P(
    cases, failed_run,
    ::testing::Values(
        // The table goes to standard output, which cannot take it: the
        // picture, finished or not, must not stay.
        failed_run_row{"table_to_a_full_standard_output_with_a_new_picture",
                       {"--heatmap", "new.svg", "3", "up.xy", "down.xy"},
                       1,
                       "lagscan-matrix: cannot write standard output\n",
                       true},
        failed_run_row{"table_to_a_full_standard_output_over_an_old_picture",
                       {"--heatmap", "m.svg", "3", "up.xy", "down.xy"},
                       1,
                       "lagscan-matrix: cannot write standard output\n",
                       true},
        failed_run_row{"counts_differ_with_old_outputs",
                       {"-o", "t.tsv", "--heatmap", "m.svg", "3", "up.xy", "four.xy", "down.xy"},
                       1,
                       counts_differ},
        failed_run_row{"counts_differ_with_new_outputs",
                       {"-o", "new.tsv", "--heatmap", "new.svg", "3", "up.xy", "four.xy", "down.xy"},
                       1,
                       counts_differ},
        failed_run_row{"a_missing_file_with_an_old_table",
                       {"-o", "t.tsv", "--against", "up.xy", "3", "missing.xy"},
                       1,
                       "lagscan-matrix: Cannot open file missing.xy\n"},
        failed_run_row{"a_folder_in_the_way",
                       {"-o", "t.tsv", "--heatmap", "sub", "3", "up.xy", "down.xy"},
                       1,
                       "lagscan-matrix: cannot write sub\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(matrix_outputs, a_run_that_succeeds_replaces_old_outputs_whole) {
  process_result r = matrix({"-o", "t.tsv", "--heatmap", "m.svg", "3", "up.xy", "down.xy"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  auto after = folder();
  EXPECT_EQ(with_lf_line_ends(after["t.tsv"]), "\tup.xy\tdown.xy\nup.xy\t1\t0.818181818\ndown.xy\t0.818181818\t1\n");
  EXPECT_EQ(after["m.svg"].rfind("<?xml", 0), 0u) << after["m.svg"].substr(0, 80);
  after.erase("t.tsv");
  after.erase("m.svg");
  auto before_names = std::map<std::string, std::string>{{"up.xy", "1 1\n2 2\n3 3\n"},
                                                         {"down.xy", "1 3\n2 2\n3 1\n"},
                                                         {"four.xy", "1 1\n2 2\n3 3\n4 4\n"},
                                                         {"list.txt", "up.xy\ndown.xy\n"}};
  EXPECT_EQ(after, before_names) << "inputs changed, or a temporary file stayed";
}

#ifndef _WIN32
// Stopped by a signal while it computes (two long files at a wide window:
// seconds of work), the run removes its temporary files before it ends.
TEST_F(matrix_outputs, a_run_stopped_by_a_signal_leaves_the_folder_as_it_was) {
  std::string long_file;
  for (int i = 0; i < 200000; ++i) long_file += std::to_string(i % 97) + " " + std::to_string(i % 89) + "\n";
  // In a folder of their own: a failure prints the folder's files whole.
  data.write("sub/long1.xy", long_file);
  data.write("sub/long2.xy", long_file);
  const auto before = folder();
  const std::string folder_path = data.path().string();
  std::vector<std::string> args = {"-q", "--threads", "1", "-o", "t.tsv", "--heatmap", "new.svg", "100001",
                                   "sub/long1.xy", "sub/long2.xy"};
  process_result r = matrix(args, [folder_path] {
    // A helper waits until both temporary files are there (20 s at most),
    // then stops the program.
    const pid_t program = ::getpid();
    if (::fork() != 0) return;
    for (int look = 0; look < 4000; ++look) {
      int temporary = 0;
      if (DIR* dir = ::opendir(folder_path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
          std::size_t length = std::strlen(entry->d_name);
          if (length > 4 && std::strcmp(entry->d_name + length - 4, ".tmp") == 0) ++temporary;
        }
        ::closedir(dir);
      }
      if (temporary == 2) break;
      ::usleep(5000);
    }
    ::kill(program, SIGTERM);
    ::_exit(0);
  });
  EXPECT_EQ(r.status, -1) << "ended by its signal: " << r.err;
  EXPECT_EQ(folder(), before);
}

// A device takes the table directly: there is nothing to rename over it.
TEST_F(matrix_outputs, a_device_is_written_directly) {
  const auto before = folder();
  process_result r = matrix({"-o", "/dev/null", "3", "up.xy", "down.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(folder(), before);
}
#endif

}  // namespace
}  // namespace lagscan::testing
