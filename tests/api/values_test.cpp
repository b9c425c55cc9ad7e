// The library's values against the lagscan command's own, for a table of
// cases: the command's nine printed digits, the same value at 17 digits
// from lagscan-matrix (which round-trips, so the bits), and the kernels the
// command runs (lag_correlation, lag_product_sum_reference) called directly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "api/api_support.h"
#include "app/lag_correlation.h"
#include "lagscan/lagscan.hpp"
#include "memory/heap_3.h"
#include "platform/format.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan::testing {
namespace {

struct value_case {
  const char* name;
  std::size_t n;
  int s;
  std::uint64_t seed;
  double offset = 0.0;
  // Changes to the random sequences before they are written.
  enum { none, nan_in_a, inf_in_a, a_all_zero, both_all_zero } change = none;
  // Lag sums that are not finite: method::fast forms such pairs exactly.
  bool outside_fast_domain = false;
};

const value_case value_cases[] = {
    {"random_200_s_21", 200, 21, 1},
    {"random_1000_s_101", 1000, 101, 2},
    {"odd_count_7_s_5", 7, 5, 3},
    {"odd_count_101_s_33", 101, 33, 4},
    {"window_wider_than_data", 9, 41, 5},
    {"half_width_equal_to_count", 12, 25, 6},
    {"window_of_one", 50, 1, 7},
    {"one_value", 1, 3, 8},
    {"no_values", 0, 3, 9},
    {"large_offset", 300, 101, 10, 1e6},
    {"nan_in_data", 30, 7, 11, 0.0, value_case::nan_in_a},
    {"one_set_all_zero", 40, 11, 12, 0.0, value_case::a_all_zero},
    {"both_all_zero", 40, 11, 13, 0.0, value_case::both_all_zero},
    {"values_near_1e200", 50, 1, 14, 1e200, value_case::none, true},
    {"values_near_1e200_s_101", 50, 101, 15, 1e200, value_case::none, true},
    {"inf_in_data", 30, 101, 16, 0.0, value_case::inf_in_a, true},
    {"long_enough_for_a_team", 40000, 101, 17},
};

class library_values : public ::testing::TestWithParam<value_case> {
 protected:
  // The process's own heap serves the library's vectors through its global
  // operator new in this test program: with calls on one thread it needs
  // no locks, but the matrix functions' threads allocate too.
  static void SetUpTestSuite() { locking_switch.fetch_or(1); }

  void SetUp() override {
    const value_case& c = GetParam();
    a = random_values(c.n, c.seed, c.offset);
    b = random_values(c.n, c.seed + 1000, c.offset);
    if (c.change == value_case::nan_in_a && c.n > 3) a[3] = std::numeric_limits<double>::quiet_NaN();
    if (c.change == value_case::inf_in_a && c.n > 3) a[3] = std::numeric_limits<double>::infinity();
    if (c.change == value_case::a_all_zero || c.change == value_case::both_all_zero) a.assign(c.n, 0.0);
    if (c.change == value_case::both_all_zero) b.assign(c.n, 0.0);
    write_data_file(data.path() / "a.xy", a);
    write_data_file(data.path() / "b.xy", b);
  }

  process_result run(const char* program, const std::vector<std::string>& args) {
    process_result r = run_process(program, args, data.path());
#ifdef _WIN32
    r.out = with_lf_line_ends(r.out);
#endif
    return r;
  }

  temp_dir data;
  std::vector<double> a;
  std::vector<double> b;
};

TEST_P(library_values, read_values_gives_back_the_written_bits) {
  std::vector<double> read_a = read_values(data.path() / "a.xy");
  std::vector<double> read_b = read_values(data.path() / "b.xy");
  ASSERT_EQ(read_a.size(), a.size());
  ASSERT_EQ(read_b.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(same_bits(read_a[i], a[i])) << i;
  for (std::size_t i = 0; i < b.size(); ++i) EXPECT_TRUE(same_bits(read_b[i], b[i])) << i;
}

TEST_P(library_values, correlation_prints_as_the_command_does) {
  const value_case& c = GetParam();
  double value = correlation(a, b, c.s);
  process_result r = run(LAGSCAN_EXE, {"a.xy", "b.xy", std::to_string(c.s)});
  // Formatted as the program formats it: the C library of Windows spells a
  // nan without its sign.
  char printed[64];
  platform::format_bounded(printed, sizeof printed, "\nCross Correlation %-.9g\n", value);
  EXPECT_EQ(r.out, printed);
  EXPECT_EQ(r.status, 1);
}

TEST_P(library_values, correlation_has_the_bits_of_the_command) {
  const value_case& c = GetParam();
  double value = correlation(a, b, c.s);
  // lagscan-matrix forms each pair as lagscan does and prints 17 digits.
  process_result r = run(LAGSCAN_MATRIX_EXE, {"--digits", "17", "-q", "--against", "a.xy", std::to_string(c.s), "b.xy"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string row = "b.xy\t";
  std::size_t at = r.out.find(row);
  ASSERT_NE(at, std::string::npos) << r.out;
  double printed = std::strtod(r.out.c_str() + at + row.size(), nullptr);
  EXPECT_TRUE(same_bits(value, printed)) << bits_text(value) << " printed " << bits_text(printed);
  for (int threads : {0, 1, 2, 3}) {
    double on_team = correlation(a, b, c.s, threads);
    EXPECT_TRUE(same_bits(value, on_team)) << bits_text(on_team) << " on " << threads << " threads";
  }

  // And the command's kernels, called directly.
  real_array w;
  w.reserve(c.s, false);
  w.count = c.s;
  make_triangle_window(w);
  real_array ra;
  real_array rb;
  for (double v : a) ra.append(v);
  for (double v : b) rb.append(v);
  EXPECT_TRUE(same_bits(value, lag_correlation(w, ra, rb))) << bits_text(value);
  double sum = lag_sum(a, b, c.s);
  EXPECT_TRUE(same_bits(sum, lag_product_sum_reference(w, ra, rb))) << bits_text(sum);
}

TEST_P(library_values, matrices_hold_the_bits_of_correlation) {
  const value_case& c = GetParam();
  const double value = correlation(a, b, c.s);
  const std::vector<std::span<const double>> sets{a, b};
  for (int threads : {1, 3}) {
    matrix_options options;
    options.threads = threads;
    std::vector<double> table = all_pairs(sets, c.s, options);
    ASSERT_EQ(table.size(), 4u);
    EXPECT_TRUE(same_bits(table[1], value)) << threads;
    EXPECT_TRUE(same_bits(table[2], value)) << threads;
    EXPECT_TRUE(same_bits(table[0], correlation(a, a, c.s)));
    EXPECT_TRUE(same_bits(table[3], correlation(b, b, c.s)));
    std::vector<double> row = against(a, sets, c.s, options);
    ASSERT_EQ(row.size(), 2u);
    EXPECT_TRUE(same_bits(row[1], value));
    EXPECT_TRUE(same_bits(row[0], table[0]));

    options.how = method::fast;
    std::vector<double> fast_table = all_pairs(sets, c.s, options);
    std::vector<double> fast_row = against(a, sets, c.s, options);
    ASSERT_EQ(fast_table.size(), 4u);
    ASSERT_EQ(fast_row.size(), 2u);
    if (c.outside_fast_domain) {
      for (std::size_t k = 0; k < 4; ++k) EXPECT_TRUE(same_bits(fast_table[k], table[k])) << k;
      for (std::size_t k = 0; k < 2; ++k) EXPECT_TRUE(same_bits(fast_row[k], row[k])) << k;
      continue;
    }
    for (std::size_t k = 0; k < 4; ++k) {
      if (std::isnan(table[k])) {
        EXPECT_TRUE(std::isnan(fast_table[k])) << k;
      } else {
        EXPECT_NEAR(fast_table[k], table[k], 1e-12) << k;
      }
    }
    for (std::size_t k = 0; k < 2; ++k) {
      if (std::isnan(row[k])) {
        EXPECT_TRUE(std::isnan(fast_row[k])) << k;
      } else {
        EXPECT_NEAR(fast_row[k], row[k], 1e-12) << k;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(cases, library_values, ::testing::ValuesIn(value_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(library_version, matches_the_headers_and_the_project) {
  EXPECT_STREQ(version(), LAGSCAN_VERSION_STRING);
  EXPECT_EQ(std::to_string(LAGSCAN_VERSION_MAJOR) + "." + std::to_string(LAGSCAN_VERSION_MINOR) + "." +
                std::to_string(LAGSCAN_VERSION_PATCH),
            LAGSCAN_VERSION_STRING);
  EXPECT_STREQ(version(), LAGSCAN_PROJECT_VERSION);
}

}  // namespace
}  // namespace lagscan::testing
