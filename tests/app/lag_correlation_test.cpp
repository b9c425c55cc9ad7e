#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

#include "app/lag_correlation.h"

namespace lagscan {
namespace {

void fill(real_array& a, std::initializer_list<double> values) {
  for (double v : values) a.append(v);
}

void make_window(real_array& w, std::int32_t s) {
  w.reserve(s, false);
  w.count = s;
  make_triangle_window(w);
}

TEST(make_triangle_window, rises_by_one_to_the_centre_and_falls_back) {
  struct {
    std::int32_t s;
    std::vector<double> weights;
  } cases[] = {{1, {1}}, {3, {1, 2, 1}}, {5, {1, 2, 3, 2, 1}}, {7, {1, 2, 3, 4, 3, 2, 1}}};
  for (const auto& c : cases) {
    real_array w;
    make_window(w, c.s);
    ASSERT_EQ(w.count, c.s);
    for (std::int32_t k = 0; k < c.s; ++k) EXPECT_EQ(w[k], c.weights[static_cast<std::size_t>(k)]) << "s=" << c.s;
  }
}

struct correlation_case {
  const char* name;
  std::initializer_list<double> a, b;
  std::int32_t s;
  double c_ab, c_aa, c_bb;
};

TEST(lag_correlation, worked_examples_give_their_sums_and_ratio) {
  const correlation_case cases[] = {
      {"same_s1", {1, 2, 3}, {1, 2, 3}, 1, 14, 14, 14},
      {"reversed_s1", {1, 2, 3}, {3, 2, 1}, 1, 10, 14, 14},
      {"reversed_s3", {1, 2, 3}, {3, 2, 1}, 3, 36, 44, 44},
      {"window_wider_than_overlap", {1, 2, 3}, {3, 2, 1}, 7, 108, 116, 116},
      {"four_partial_sums", {1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 2, 3}, 3, 123, 322, 58},
      {"opposite_signs", {1, -1}, {-1, 1}, 1, -2, 2, 2},
  };
  for (const auto& c : cases) {
    real_array a, b, w;
    fill(a, c.a);
    fill(b, c.b);
    make_window(w, c.s);
    EXPECT_EQ(lag_product_sum(w, a, b), c.c_ab) << c.name;
    EXPECT_EQ(lag_product_sum(w, a, a), c.c_aa) << c.name;
    EXPECT_EQ(lag_product_sum(w, b, b), c.c_bb) << c.name;
    EXPECT_EQ(lag_correlation(w, a, b), c.c_ab / std::sqrt(std::fabs(c.c_bb * c.c_aa))) << c.name;
  }
}

TEST(lag_correlation, no_divisor_below_1e_minus_100) {
  real_array w;
  make_window(w, 3);
  real_array empty_a, empty_b;
  EXPECT_EQ(lag_correlation(w, empty_a, empty_b), 0.0) << "empty sequences";

  real_array zeros, ones;
  fill(zeros, {0, 0, 0});
  fill(ones, {1, 1, 1});
  EXPECT_EQ(lag_correlation(w, zeros, ones), 0.0) << "one sequence all zeros";

  real_array huge, small;
  fill(huge, {1e200, 1e200});
  fill(small, {1, 1});
  EXPECT_EQ(lag_correlation(w, small, huge), 0.0) << "own sums overflow: infinite divisor";

  real_array nan_seq;
  fill(nan_seq, {std::numeric_limits<double>::quiet_NaN(), 1});
  real_array tiny_ab;
  fill(tiny_ab, {1e-120, 0});
  // A NaN root fails the "above 1e-100" test and the divisor becomes 1e-100.
  EXPECT_TRUE(std::isnan(lag_correlation(w, nan_seq, small)));
  EXPECT_EQ(lag_correlation(w, tiny_ab, tiny_ab), (2.0 * (1e-120 * 1e-120)) / 1e-100) << "own product underflows to 0";
}

// The order of the four partial sums is observable: with these values a
// plain left-to-right sum rounds differently.
TEST(lag_product_sum, combines_partial_sums_as_p0_plus_p2_then_p1_plus_p3) {
  real_array x, y, w;
  fill(x, {1e16, 1, -1e16, 1, 1});
  fill(y, {1, 1, 1, 1, 1});
  make_window(w, 1);
  double p0 = 1e16, p1 = 1, p2 = -1e16, p3 = 1;
  double expected = ((p0 + p2) + (p1 + p3)) + 1;
  double sequential = (((1e16 + 1) + -1e16) + 1) + 1;
  ASSERT_NE(expected, sequential) << "the values must tell the two orders apart";
  EXPECT_EQ(lag_product_sum(w, x, y), expected);
}

// The two orders a kernel could take: the weight times each lag's finished
// sum, or the weight inside every product. The data are chosen so that they
// round apart, and the kernel must give the first.
double lag_sum_weighting(const real_array& w, const real_array& x, const real_array& y, bool each_product) {
  const std::int64_t n = x.count;
  const std::int64_t h = w.count >> 1;
  double total = 0.0;
  for (std::int64_t m = -h; m <= h; ++m) {
    const double weight = w[static_cast<std::int32_t>(h + m)];
    double sum = 0.0;
    for (std::int64_t i = std::max<std::int64_t>(0, -m); i < std::min(n, n - m); ++i) {
      double product = x[static_cast<std::int32_t>(i)] * y[static_cast<std::int32_t>(i + m)];
      sum += each_product ? product * weight : product;
    }
    total += each_product ? sum : sum * weight;
  }
  return total;
}

TEST(lag_product_sum, weight_multiplies_the_finished_lag_sum) {
  real_array x, y, w;
  fill(x, {0.9, 0.03, 0.03});
  fill(y, {0.54, 0.94, 0.38});
  make_window(w, 5);
  const double finished = lag_sum_weighting(w, x, y, false);
  ASSERT_NE(finished, lag_sum_weighting(w, x, y, true)) << "the data must tell the two orders apart";
  EXPECT_EQ(lag_product_sum(w, x, y), finished);
}

TEST(lag_product_sum, swapping_the_sequences_mirrors_the_lags) {
  real_array a, b, w;
  fill(a, {1, 2, 3, 4, 5});
  fill(b, {5, 3, 1, 2, 4});
  make_window(w, 5);
  EXPECT_EQ(lag_product_sum(w, a, b), lag_product_sum(w, b, a)) << "integers sum exactly in any order";
}

}  // namespace
}  // namespace lagscan
