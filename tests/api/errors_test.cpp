// Every error crosses the interface as the documented exception with the
// command's words: the argument checks of each function, in the command's
// order, and each file problem against what lagscan prints for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "api/api_support.h"
#include "lagscan/lagscan.hpp"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan::testing {
namespace {

const matrix_options fast_method{method::fast, 0, {}};

struct argument_case {
  const char* name;
  int s;
  std::size_t count_b;  // a holds 10 values
  const char* words;
};

const argument_case argument_cases[] = {
    {"even_width", 4, 10, "s needs to be an odd number"},
    {"zero_width", 0, 10, "s needs to be an odd number"},
    {"negative_width", -3, 10, "s needs to be a positive odd number"},
    {"negative_even_width", -4, 10, "s needs to be an odd number"},
    {"width_too_large", 1073741825, 10, "s is too large"},
    {"largest_odd_int", 2147483647, 10, "s is too large"},
    {"counts_differ", 3, 9, "Number of points in files needs to be the same"},
    // The width is checked before the counts, as the command does.
    {"even_width_and_counts_differ", 2, 9, "s needs to be an odd number"},
};

using call = std::function<void(std::span<const double>, std::span<const double>, int)>;

const std::pair<const char*, call> every_function[] = {
    {"correlation", [](auto a, auto b, int s) { correlation(a, b, s); }},
    {"correlation_on_threads", [](auto a, auto b, int s) { correlation(a, b, s, 2); }},
    {"lag_sum", [](auto a, auto b, int s) { lag_sum(a, b, s); }},
    {"profile", [](auto a, auto b, int s) { profile(a, b, s); }},
    {"all_pairs", [](auto a, auto b, int s) { all_pairs(std::vector<std::span<const double>>{a, b}, s); }},
    {"all_pairs_fast",
     [](auto a, auto b, int s) { all_pairs(std::vector<std::span<const double>>{a, b}, s, fast_method); }},
    {"against", [](auto a, auto b, int s) { against(a, std::vector<std::span<const double>>{a, b}, s); }},
    {"against_fast",
     [](auto a, auto b, int s) { against(a, std::vector<std::span<const double>>{b}, s, fast_method); }},
};

class argument_errors : public ::testing::TestWithParam<argument_case> {};

TEST_P(argument_errors, raise_invalid_argument_with_the_commands_words) {
  const argument_case& c = GetParam();
  const std::vector<double> a = random_values(10, 1);
  const std::vector<double> b = random_values(c.count_b, 2);
  for (const auto& [function, f] : every_function) {
    try {
      f(a, b, c.s);
      ADD_FAILURE() << function << " raised nothing";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), c.words) << function;
    } catch (...) {
      ADD_FAILURE() << function << " raised another type";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(cases, argument_errors, ::testing::ValuesIn(argument_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(matrix_arguments, a_negative_thread_count_is_refused) {
  const std::vector<double> a = random_values(10, 1);
  const std::vector<std::span<const double>> sets{a, a};
  matrix_options options;
  options.threads = -1;
  EXPECT_THROW(all_pairs(sets, 3, options), std::invalid_argument);
  EXPECT_THROW(against(a, sets, 3, options), std::invalid_argument);
  EXPECT_THROW(correlation(a, a, 3, -1), std::invalid_argument);
}

TEST(matrix_arguments, no_sets_give_empty_results) {
  const std::vector<double> a = random_values(10, 1);
  EXPECT_TRUE(all_pairs({}, 3).empty());
  EXPECT_TRUE(against(a, {}, 3).empty());
}

// A file problem, made in the data folder; nothing when it cannot be made here.
struct file_case {
  const char* name;
  const char* reason;
  std::function<bool(const std::filesystem::path&)> make;
};

const file_case file_cases[] = {
    {"missing", "Cannot open file", [](const std::filesystem::path&) { return true; }},
    {"unclosed_comment", "Unclosed comment block",
     [](const std::filesystem::path& path) {
       std::ofstream(path) << "0 1\n1 2 /* never closed\n2 3\n";
       return true;
     }},
    {"too_large", "File too large",
     [](const std::filesystem::path& path) {
       std::ofstream(path) << "0 1\n";
       std::error_code failed;
       std::filesystem::resize_file(path, (std::uintmax_t{1} << 30) - 1000, failed);  // sparse where it can
       return !failed;
     }},
};

class file_errors : public ::testing::TestWithParam<file_case> {};

TEST_P(file_errors, raise_file_error_with_the_commands_message) {
  const file_case& c = GetParam();
  temp_dir data;
  const std::filesystem::path path = data.path() / "bad.xy";
  if (!c.make(path)) GTEST_SKIP() << "cannot make the file here";
  std::ofstream(data.path() / "good.xy") << "0 1\n";
  process_result printed = run_process(LAGSCAN_EXE, {path.string(), (data.path() / "good.xy").string(), "3"},
                                       data.path());
  std::string expected = printed.out;
#ifdef _WIN32
  expected = with_lf_line_ends(expected);
#endif
  ASSERT_TRUE(expected.size() > 2 && expected.front() == ' ' && expected.back() == '\n') << expected;
  expected = expected.substr(1, expected.size() - 2);
  try {
    read_values(path);
    ADD_FAILURE() << "read_values raised nothing";
  } catch (const file_error& error) {
    EXPECT_EQ(error.what(), expected);
    EXPECT_EQ(error.reason(), c.reason);
    EXPECT_EQ(error.path(), path);
    // Only the path's words follow the reason.
    EXPECT_EQ(expected.rfind(c.reason, 0), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(cases, file_errors, ::testing::ValuesIn(file_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The library only reads its files: one that nobody may write (installed
// samples, a shared data set) is read, though lagscan, which opens its data
// files for update, refuses it.
TEST(read_values, reads_a_file_that_nobody_may_write) {
  temp_dir data;
  const std::filesystem::path path = data.path() / "read-only.xy";
  std::ofstream(path) << "0 1.5\n1 2\n2 -3\n";
  make_read_only(path);
  EXPECT_EQ(read_values(path), (std::vector<double>{1.5, 2, -3}));
  process_result printed = run_process(LAGSCAN_EXE, {path.string(), path.string(), "1"}, data.path());
  EXPECT_NE(printed.out.find("Cannot open file"), std::string::npos) << printed.out;
}

TEST(file_errors_type, is_a_runtime_error_with_the_path_as_given) {
  temp_dir data;
  const std::filesystem::path relative = "no/such/file.xy";
  try {
    read_values(relative);
    FAIL() << "read_values raised nothing";
  } catch (const std::runtime_error& error) {
    const auto* file = dynamic_cast<const file_error*>(&error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->path(), relative);
  }
}

}  // namespace
}  // namespace lagscan::testing
