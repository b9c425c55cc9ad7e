// The per-lag profile: each lag's sum against a plain loop, the weighted sum
// of the profile against lag_sum to the bit, and the best lag of signals
// shifted by a known amount.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "api/api_support.h"
#include "app/lag_correlation.h"
#include "lagscan/lagscan.hpp"

namespace lagscan::testing {
namespace {

// S_m(X, Y) in plain index order.
double plain_lag_sum(const std::vector<double>& x, const std::vector<double>& y, int m) {
  double sum = 0.0;
  const auto n = static_cast<int>(x.size());
  for (int i = 0; i < n; ++i) {
    if (i + m >= 0 && i + m < n) sum += x[static_cast<std::size_t>(i)] * y[static_cast<std::size_t>(i + m)];
  }
  return sum;
}

void fill(real_array& array, const std::vector<double>& values) {
  for (double v : values) array.append(v);
}

struct profile_case {
  std::size_t n;
  int s;
};

class lag_profiles : public ::testing::TestWithParam<profile_case> {};

TEST_P(lag_profiles, sums_are_the_plain_loops_in_the_kernels_order) {
  const auto [n, s] = GetParam();
  const std::vector<double> x = random_values(n, 21 + n);
  const std::vector<double> y = random_values(n, 22 + n);
  const lag_profile p = profile(x, y, s);
  const int reach = std::min(s / 2, static_cast<int>(n) - 1);
  ASSERT_EQ(p.lags.size(), static_cast<std::size_t>(2 * reach + 1));
  ASSERT_EQ(p.sums.size(), p.lags.size());
  ASSERT_EQ(p.normalised.size(), p.lags.size());

  // The reference order, lag by lag, gives the very bits.
  std::vector<double> reference(p.lags.size());
  real_array xs;
  real_array ys;
  fill(xs, x);
  fill(ys, y);
  unweighted_lag_sums_reference(xs, ys, reach, reference.data());
  const double own_x = plain_lag_sum(x, x, 0);
  const double own_y = plain_lag_sum(y, y, 0);
  for (std::size_t k = 0; k < p.lags.size(); ++k) {
    const int m = p.lags[k];
    EXPECT_EQ(m, static_cast<int>(k) - reach);
    EXPECT_TRUE(same_bits(p.sums[k], reference[k])) << "lag " << m << ": " << bits_text(p.sums[k]);
    // A plain loop adds in another order: the same to rounding.
    EXPECT_NEAR(p.sums[k], plain_lag_sum(x, y, m), 1e-12 * static_cast<double>(n)) << "lag " << m;
    EXPECT_NEAR(p.normalised[k], p.sums[k] / std::sqrt(own_x * own_y), 1e-12) << "lag " << m;
  }

  // Weighted and added from -h up, the lag sums are lag_sum.
  double total = 0.0;
  for (std::size_t k = 0; k < p.lags.size(); ++k) total += p.sums[k] * (s / 2 + 1 - std::abs(p.lags[k]));
  EXPECT_TRUE(same_bits(total, lag_sum(x, y, s))) << bits_text(total);
}

INSTANTIATE_TEST_SUITE_P(widths, lag_profiles,
                         ::testing::Values(profile_case{1, 1}, profile_case{2, 3}, profile_case{50, 31},
                                           profile_case{50, 201}, profile_case{700, 601}, profile_case{1200, 2001}));

// y is x delayed by `delay` samples (zeros shifted in): S_m(x, y) peaks at
// m = delay, where every product is a square.
TEST(lag_profile_best_lag, finds_a_known_delay) {
  const std::vector<double> x = random_values(500, 31);
  for (int delay : {-40, -17, -1, 0, 5, 40}) {
    std::vector<double> y(x.size(), 0.0);
    for (int i = 0; i < static_cast<int>(x.size()); ++i) {
      int from = i - delay;
      if (from >= 0 && from < static_cast<int>(x.size())) y[static_cast<std::size_t>(i)] = x[static_cast<std::size_t>(from)];
    }
    EXPECT_EQ(profile(x, y, 101).best_lag, delay);
  }
}

TEST(lag_profile_best_lag, takes_the_nearer_lag_then_the_negative_of_equal_values) {
  // S_m = y[2 + m]: equal peaks at -2 and +2.
  const std::vector<double> x{0, 0, 1, 0, 0};
  EXPECT_EQ(profile(x, std::vector<double>{1, 0, 0, 0, 1}, 9).best_lag, -2);
  // Equal peaks at -2 and +1: the nearer one.
  EXPECT_EQ(profile(x, std::vector<double>{1, 0, 0, 1, 0}, 9).best_lag, 1);
}

TEST(lag_profile_best_lag, passes_over_values_that_are_no_number) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Only lag -1 avoids the NaN: it takes x[1] * y[0] alone.
  const lag_profile p = profile(std::vector<double>{nan, 2.0}, std::vector<double>{3.0, 1.0}, 3);
  ASSERT_EQ(p.lags.size(), 3u);
  EXPECT_FALSE(std::isnan(p.sums[0]));
  EXPECT_TRUE(std::isnan(p.sums[1]));
  EXPECT_TRUE(std::isnan(p.sums[2]));
  // A divisor that is no number is replaced by 1e-100, as in correlation:
  // lag -1 stays a number, and the best.
  EXPECT_EQ(p.normalised[0], 6.0 / 1e-100);
  EXPECT_EQ(p.best_lag, -1);
  // No lag a number: lag 0.
  EXPECT_EQ(profile(std::vector<double>{nan, nan}, std::vector<double>{1.0, 1.0}, 3).best_lag, 0);
  EXPECT_TRUE(profile(std::vector<double>{}, std::vector<double>{}, 3).lags.empty());
}

}  // namespace
}  // namespace lagscan::testing
