// The heap log is opened once per process, at its first line, so the
// redirection to a temporary file is made before anything runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "memory/heap_3.h"
#include "platform/files.h"
#include "platform/process_heap.h"

namespace lagscan {
namespace {

constexpr const char* log_name = "\\x8\\t0.txt";

const char* temporary_log() {
  static char path[96];
  std::snprintf(path, sizeof path, "/tmp/lagscan_heap_log_%d.txt", static_cast<int>(::getpid()));
  return path;
}

// A process that ended without its at-exit work (a death test's child) can
// leave its log behind, and wine hands the same small process ids out again
// soon: a log of this id that is already there is an earlier process's.
const bool redirected = [] {
  std::remove(temporary_log());
  platform::redirect_for_tests(log_name, temporary_log());
  std::atexit([] { std::remove(temporary_log()); });
  return true;
}();

std::vector<std::string> log_lines() {
  std::ifstream in(temporary_log());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "%1d " thread, "%6d " counter, "%s " message, " t= %-1.4f", " t0= %-1.4f".
const std::regex line_format(R"(^(\d) ([ \d]{5}\d) heap_3 error get_h  t= (\d+\.\d{4}) t0= (\d+\.\d{4})$)");

TEST(heap_log, a_zero_size_request_writes_one_line_and_gets_a_2_byte_block) {
  ASSERT_TRUE(redirected);
  heap_3& heap = heap_3::instance();
  std::size_t lines_before = log_lines().size();
  void* p = heap.allocate(0);
  EXPECT_EQ(platform::heap_block_size(p), 2u);
  heap.free(p);
  std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), lines_before + 1);
  std::smatch fields;
  ASSERT_TRUE(std::regex_match(lines.back(), fields, line_format)) << lines.back();
  EXPECT_EQ(fields[1], "0");
}

TEST(heap_log, the_counter_goes_up_by_one_per_line_from_zero) {
  heap_3& heap = heap_3::instance();
  heap.free(heap.allocate(0));
  heap.free(heap.allocate(0));
  std::vector<std::string> lines = log_lines();
  ASSERT_GE(lines.size(), 2u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(lines[i], fields, line_format)) << lines[i];
    EXPECT_EQ(std::stoi(fields[2]), static_cast<int>(i));
    if (i == 0) {
      // The run's first line: both times near zero, not readings of a clock
      // that started elsewhere. The first line's t0 includes opening the
      // file, which on a busy machine has taken over 10 ms.
      EXPECT_LT(std::stod(fields[3]), 0.5);
      EXPECT_LT(std::stod(fields[4]), 0.5);
    }
  }
}

TEST(heap_log, a_log_that_cannot_be_opened_loses_its_line_but_not_the_allocation) {
  // In a fresh process, so that the log is first opened under the new name.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        platform::redirect_for_tests(log_name, "/nonexistent-lagscan-folder/t0.txt");
        void* p = heap_3::instance().allocate(0);
        bool served = platform::heap_block_size(p) == 2;
        heap_3::instance().free(p);
        std::exit(served && std::fopen("/nonexistent-lagscan-folder/t0.txt", "r") == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace lagscan
