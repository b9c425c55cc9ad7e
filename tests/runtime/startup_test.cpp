// Start-up and exit, seen from child processes of startup_probe and lagscan:
// what start-up made depends on the process's directory and on the OpenMP
// runtime's maximum (OMP_NUM_THREADS), and exit work shows only at exit.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan {
namespace {

using report = std::map<std::string, std::string>;

// name=value lines of the probe's output.
report parse_report(const std::string& output) {
  report r;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (eq != std::string::npos) r[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return r;
}

std::vector<std::string> omp_maximum(const std::string& n) { return {"OMP_NUM_THREADS=" + n}; }

report run_probe(const std::filesystem::path& directory, int omp_max, const std::vector<std::string>& actions = {}) {
  testing::process_result result =
      testing::run_process(STARTUP_PROBE, actions, directory, {}, omp_maximum(std::to_string(omp_max)));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  return parse_report(testing::with_lf_line_ends(result.out));
}

std::string value(const report& r, const std::string& key) {
  auto it = r.find(key);
  return it == r.end() ? "<missing " + key + ">" : it->second;
}

const char* const arrays_made_at_start_up[] = {"char_cells", "format_buffers", "token_buffers"};
const char* const tables[] = {"reciprocal_table", "sqrt_table", "inv_sqrt_table", "log_table"};

TEST(start_up, no_file_and_a_maximum_of_8_makes_8_of_each_per_thread_element) {
  testing::temp_dir dir;
  report r = run_probe(dir.path(), 8);
  EXPECT_EQ(value(r, "start.failed_steps"), "0");
  EXPECT_EQ(value(r, "start.thread_count"), "8");
  for (const char* a : arrays_made_at_start_up) {
    EXPECT_EQ(value(r, std::string("start.") + a + ".count"), "8") << a;
    EXPECT_EQ(value(r, std::string("start.") + a + ".capacity"), "8") << a;
  }
  EXPECT_EQ(value(r, "start.char_cells.nul_terminated"), "8");
  EXPECT_EQ(value(r, "start.format_buffers.raw"), "8");
  EXPECT_EQ(value(r, "start.token_buffers.empty_128"), "8");
  // The probe for maxnumthreads.txt made the separator cells before the
  // count was settled, with the runtime's own maximum.
  EXPECT_EQ(value(r, "start.separator_cells.count"), "8");
  EXPECT_EQ(value(r, "start.separator_cells.nul_terminated"), "8");
  EXPECT_EQ(value(r, "start.omp_max_threads"), "1");
  for (const char* t : tables) {
    EXPECT_EQ(value(r, std::string("start.") + t + ".versions"), "1") << t;
    EXPECT_EQ(value(r, std::string("start.") + t + ".entries"), "8192") << t;
  }
}

struct count_case {
  const char* name;
  std::optional<std::string> file;  // maxnumthreads.txt, if any
  int omp_max;
  int expected;
  bool read_only = false;
};

void PrintTo(const count_case& c, std::ostream* os) { *os << c.name; }

const count_case count_cases[] = {
    {"no_file", std::nullopt, 8, 8},
    {"zero_means_the_maximum", "0", 8, 8},
    {"three_below_the_maximum", "3", 8, 3},
    {"three_above_the_maximum", "3", 2, 2},
    {"empty_file", "", 64, 64},
    {"white_space_then_12abc", " \r\n\t12abc", 64, 12},
    {"comment_line_then_5", "' threads for this machine\n5\n", 64, 5},
    {"nested_block_comment_then_6", "/* outer /* inner */ still outer */ 6", 64, 6},
    {"letter_before_the_digit", "x4", 64, 64},
    {"first_nine_of_twelve_digits_exceed_the_maximum", "987654321012", 64, 64},
    {"first_nine_of_twelve_digits_are_eight_zeros_and_1", "000000001234", 64, 1},
    {"unclosed_block_comment_counts_as_no_file", "/* 7", 64, 64},
    {"minus_is_not_a_digit", "-2", 64, 64},
    {"read_only_file_cannot_be_opened_for_update", "3", 64, 64, true},
};

class thread_count_file : public ::testing::TestWithParam<count_case> {};

TEST_P(thread_count_file, settles_the_count_and_sizes_the_arrays_by_it) {
  const count_case& c = GetParam();
  testing::temp_dir dir;
  if (c.file) {
    dir.write("maxnumthreads.txt", *c.file);
    if (c.read_only) testing::make_read_only(dir.path() / "maxnumthreads.txt");
  }
  report r = run_probe(dir.path(), c.omp_max);
  std::string expected = std::to_string(c.expected);
  std::string maximum = std::to_string(c.omp_max);
  EXPECT_EQ(value(r, "start.failed_steps"), "0");
  EXPECT_EQ(value(r, "start.thread_count"), expected);
  EXPECT_EQ(value(r, "start.format_buffers.count"), expected);
  EXPECT_EQ(value(r, "start.token_buffers.count"), expected);
  // Cells made before the count was settled keep the runtime's maximum.
  EXPECT_EQ(value(r, "start.char_cells.count"), maximum);
  EXPECT_EQ(value(r, "start.separator_cells.count"), maximum);
  EXPECT_EQ(value(r, "start.omp_max_threads"), "1");
}

INSTANTIATE_TEST_SUITE_P(cases, thread_count_file, ::testing::ValuesIn(count_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(start_up, count_is_read_once_and_kept_when_the_file_changes) {
  testing::temp_dir dir;
  dir.write("maxnumthreads.txt", "3");
  report r = run_probe(dir.path(), 8, {"recount"});
  EXPECT_EQ(value(r, "start.thread_count"), "3");
  EXPECT_EQ(value(r, "use.recount"), "3");
}

TEST(start_up, format_buffer_takes_storage_only_at_the_first_numeric_write) {
  testing::temp_dir dir;
  report r = run_probe(dir.path(), 2, {"write_number"});
  EXPECT_EQ(value(r, "use.format_buffer.capacity_before"), "0");
  EXPECT_GE(std::stoi(value(r, "use.format_buffer.capacity_after")), 1261);
}

TEST(exit_work, runs_in_reverse_and_leaves_no_storage_while_the_sources_remain) {
  testing::temp_dir dir;
  report r = run_probe(dir.path(), 4, {"write_number"});
  EXPECT_EQ(value(r, "exit.order"),
            "log_table,inv_sqrt_table,sqrt_table,reciprocal_table,output_stack,token_buffers,format_buffers,"
            "separator_cells,char_cells");
  for (const char* a : {"char_cells", "separator_cells", "format_buffers", "token_buffers", "output_stack"}) {
    EXPECT_EQ(value(r, std::string("exit.") + a + ".capacity"), "0") << a;
  }
  for (const char* t : tables) {
    EXPECT_EQ(value(r, std::string("exit.") + t + ".versions"), "0") << t;
    EXPECT_EQ(value(r, std::string("exit.") + t + ".versions_capacity"), "0") << t;
  }
  // Every block taken since the process began has come back ...
  EXPECT_EQ(value(r, "exit.outstanding_blocks"), "0");
  // ... and heap_3 and the pools still serve.
  EXPECT_EQ(value(r, "exit.storage_serves"), "1");
}

#ifndef _WIN32
// Windows starts no process in a directory this deep.

// A directory path longer than the 1000-byte current-directory buffer.
std::filesystem::path too_deep(const testing::temp_dir& dir) {
  std::filesystem::path p = dir.path();
  for (int i = 0; i < 5; ++i) p /= std::string(240, static_cast<char>('a' + i));
  std::filesystem::create_directories(p);
  return p;
}

TEST(start_up, unreadable_current_directory_gives_the_maximum_and_separator_cells_come_later) {
  testing::temp_dir dir;
  std::filesystem::path deep = too_deep(dir);
  std::ofstream(deep / "maxnumthreads.txt") << "3";
  report r = run_probe(deep, 8);
  // The probe could not resolve the name, so the file was never read.
  EXPECT_EQ(value(r, "start.failed_steps"), "0");
  EXPECT_EQ(value(r, "start.thread_count"), "8");
  EXPECT_EQ(value(r, "start.separator_cells.count"), "0");
  // Made after the count was settled: one cell.
  EXPECT_EQ(value(r, "use.separator_cells.count"), "1");
  EXPECT_EQ(value(r, "exit.order"),
            "separator_cells,log_table,inv_sqrt_table,sqrt_table,reciprocal_table,output_stack,token_buffers,"
            "format_buffers,char_cells");
  EXPECT_EQ(value(r, "exit.outstanding_blocks"), "0");
}
#endif

#ifndef _WIN32
// Needs a limit on the address space of one process. Windows has it only
// through job objects, which wine does not enforce; there, the platform
// tests show the process heap's exhaustion arriving as out_of_storage.

// Data files for the command; the sequences are 1 2 3 and 3 2 1.
void write_data(const testing::temp_dir& dir) {
  dir.write("a.xy", "1 1\n2 2\n3 3\n");
  dir.write("b.xy", "1 3\n2 2\n3 1\n");
}

// OMP_NUM_THREADS of a billion asks for gigabytes of per-thread scratch,
// more than the address space allows: the per-thread steps fail.
constexpr const char* huge_maximum = "1000000000";

void limit_address_space_to_1_gib() {
  rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
  if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
}

testing::process_result run_starved(const char* program, const testing::temp_dir& dir,
                                    const std::vector<std::string>& arguments) {
  return testing::run_process(program, arguments, dir.path(), limit_address_space_to_1_gib, omp_maximum(huge_maximum));
}

TEST(start_up, exhausted_storage_leaves_arrays_empty_and_the_process_running) {
#ifdef LAGSCAN_SANITIZE
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
  testing::temp_dir dir;
  write_data(dir);
  testing::process_result probe = run_starved(STARTUP_PROBE, dir, {});
  EXPECT_EQ(probe.status, 0);
  EXPECT_EQ(probe.err, "");
  report r = parse_report(probe.out);
  EXPECT_EQ(value(r, "start.failed_steps"), "7");  // S1, S2 and S3
  EXPECT_EQ(value(r, "start.char_cells.count"), "0");
  EXPECT_EQ(value(r, "start.format_buffers.count"), "0");
  EXPECT_EQ(value(r, "start.token_buffers.count"), "0");
  EXPECT_EQ(value(r, "start.log_table.entries"), "8192");
  EXPECT_EQ(value(r, "exit.outstanding_blocks"), "0");

  // The command still answers with its own messages and status 1.
  testing::process_result usage = run_starved(LAGSCAN_PROGRAM, dir, {});
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.out.substr(0, 40), "\n*** Error - three arguments needed *** ");
  testing::process_result read = run_starved(LAGSCAN_PROGRAM, dir, {"a.xy", "b.xy", "3"});
  EXPECT_EQ(read.status, 1);
  EXPECT_EQ(read.out, " No per-thread scratch\n");
  EXPECT_EQ(read.err, "");
}
#endif

}  // namespace
}  // namespace lagscan
