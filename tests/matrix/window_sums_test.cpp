// The window sums of --fast: the inner product of two files' window sums is
// their lag sum for every window width, and the sums keep every digit of
// values on a large offset, where a plain running sum loses them.
#include "matrix/window_sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "app/lag_correlation.h"

namespace lagscan::matrix {
namespace {

// --- The identity ------------------------------------------------------------

struct shape {
  std::int64_t n;
  std::int32_t s;
};

class window_sum_identity : public ::testing::TestWithParam<shape> {};

TEST_P(window_sum_identity, inner_product_of_window_sums_is_the_lag_sum) {
  const auto [n, s] = GetParam();
  const std::int64_t h = s >> 1;
  std::mt19937_64 rng(static_cast<std::uint64_t>(n * 7919 + s));
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  real_array x, y, w;
  for (std::int64_t i = 0; i < n; ++i) {
    x.append(unit(rng));
    y.append(unit(rng) + 0.5);
  }
  w.reserve(s, false);
  w.count = s;
  make_triangle_window(w);

  const std::size_t length = window_sum_length(n, h);
  EXPECT_EQ(length, n == 0 ? 0u : static_cast<std::size_t>(std::min(n + h, 2 * n - 1)));
  std::vector<double> xs(length), ys(length);
  window_sums(x.buffer, n, h, xs.data());
  window_sums(y.buffer, n, h, ys.data());
  const double c_xy = lag_product_sum_reference(w, x, y);
  const double c_xx = lag_product_sum_reference(w, x, x);
  const double c_yy = lag_product_sum_reference(w, y, y);
  const double scale = std::max(std::sqrt(c_xx * c_yy), 1e-300);
  EXPECT_NEAR(accurate_dot(xs.data(), ys.data(), length) / scale, c_xy / scale, 1e-14);
  EXPECT_NEAR(accurate_dot(xs.data(), xs.data(), length), c_xx, 1e-14 * c_xx);
  EXPECT_NEAR(accurate_dot(ys.data(), ys.data(), length), c_yy, 1e-14 * c_yy);
}

// Window widths below, at and far beyond the data's length (h = n - 2,
// n - 1, n and beyond, where one entry stands for the windows that cover
// everything).
INSTANTIATE_TEST_SUITE_P(shapes, window_sum_identity,
                         ::testing::Values(shape{0, 5}, shape{1, 1}, shape{1, 9}, shape{2, 3}, shape{7, 1},
                                           shape{7, 11}, shape{7, 13}, shape{7, 15}, shape{7, 101},
                                           shape{300, 1}, shape{300, 5}, shape{300, 101}, shape{300, 597},
                                           shape{300, 599}, shape{300, 601}, shape{300, 100001},
                                           shape{4099, 1001}),
                         [](const auto& row) {
                           // Appended: "n" + a string trips GCC 12's -Wrestrict at -O3.
                           std::string name = "n";
                           name += std::to_string(row.param.n);
                           name += "_s";
                           name += std::to_string(row.param.s);
                           return name;
                         });

// --- Digits on a large offset -----------------------------------------------
//
// Whole numbers below 2^53 are exact doubles, and their window sums are
// exact in 64-bit integers: the reference is the exact sum rounded once.

struct offset_case {
  const char* name;
  std::int64_t n;
  std::int64_t h;
  // value i of the sequence (a whole number)
  std::int64_t (*value)(std::mt19937_64&, std::int64_t i);
};

void PrintTo(const offset_case& c, std::ostream* os) { *os << c.name; }

std::int64_t on_offset(std::mt19937_64& rng, std::int64_t) {
  // mean 2^50, spread 2^30: the offset a million times the spread
  return (std::int64_t{1} << 50) + std::uniform_int_distribution<std::int64_t>(-(1 << 30), 1 << 30)(rng);
}

std::int64_t spike_then_small(std::mt19937_64& rng, std::int64_t i) {
  return i < 100 ? std::int64_t{1} << 52 : std::uniform_int_distribution<std::int64_t>(-1000, 1000)(rng);
}

class window_sum_digits : public ::testing::TestWithParam<offset_case> {};

double units_in_last_place(double got, double exact) {
  return std::fabs(got - exact) / std::max(std::ldexp(std::fabs(exact), -52), 1e-300);
}

TEST_P(window_sum_digits, every_sum_within_one_unit_in_the_last_place) {
  const offset_case& c = GetParam();
  std::mt19937_64 rng(12345);
  std::vector<std::int64_t> whole(static_cast<std::size_t>(c.n));
  std::vector<double> x(whole.size());
  for (std::int64_t i = 0; i < c.n; ++i) {
    whole[static_cast<std::size_t>(i)] = c.value(rng, i);
    x[static_cast<std::size_t>(i)] = static_cast<double>(whole[static_cast<std::size_t>(i)]);
  }
  const std::size_t length = window_sum_length(c.n, c.h);
  std::vector<double> fast(length), plain(length);
  window_sums(x.data(), c.n, c.h, fast.data());
  window_sums_uncompensated(x.data(), c.n, c.h, plain.data());

  // Exact window sums over the windows that the vector's entries stand for.
  double worst = 0.0, worst_plain = 0.0;
  const bool covers_all = c.h + 1 >= c.n;
  for (std::size_t e = 0; e < length; ++e) {
    const auto k = static_cast<std::int64_t>(e);
    // entry e is window position k, or, past the covering entry, k + h - n + 1
    const std::int64_t position = covers_all && k >= c.n ? k + c.h - c.n + 1 : k;
    std::int64_t exact = 0;
    for (std::int64_t i = std::max<std::int64_t>(0, position - c.h); i <= std::min(c.n - 1, position); ++i) {
      exact += whole[static_cast<std::size_t>(i)];
    }
    double factor = covers_all && k == c.n - 1 ? std::sqrt(static_cast<double>(c.h - c.n + 2)) : 1.0;
    double reference = static_cast<double>(exact) * factor;
    double allowed = factor == 1.0 ? 1.0 : 2.0;  // the covering entry is rounded once more
    double error = units_in_last_place(fast[e], reference);
    ASSERT_LE(error, allowed) << "entry " << e << ": " << fast[e] << " against " << reference;
    worst = std::max(worst, error);
    worst_plain = std::max(worst_plain, units_in_last_place(plain[e], reference));
  }
  RecordProperty("worst_ulps", std::to_string(worst));
  RecordProperty("worst_ulps_of_a_plain_running_sum", std::to_string(worst_plain));
  std::printf("%s: worst %.2f units in the last place; a plain running sum %.3g\n", c.name, worst, worst_plain);
  // The data must be hard: a running sum that adds and subtracts loses digits on it.
  EXPECT_GT(worst_plain, 50.0) << "the case does not stress the sums";
}

INSTANTIATE_TEST_SUITE_P(
    cases, window_sum_digits,
    ::testing::Values(offset_case{"offset_a_million_times_the_spread", 200000, 50, on_offset},
                      offset_case{"offset_with_a_wide_window", 20000, 1000, on_offset},
                      offset_case{"huge_values_then_small_ones", 20000, 100, spike_then_small},
                      offset_case{"window_wider_than_the_data", 3000, 5000, on_offset}),
    [](const auto& row) { return std::string(row.param.name); });

// --- The inner product -------------------------------------------------------

TEST(accurate_dot, error_stays_near_a_few_units_however_long_the_vectors) {
  std::mt19937_64 rng(99);
  for (std::size_t length : {std::size_t{0}, std::size_t{3}, std::size_t{64}, std::size_t{1000003}}) {
    // Whole numbers near 2^20: every product is exact, and so is their sum
    // in 64 bits (below 2^61 for a million products).
    std::vector<double> a(length), b(length);
    std::int64_t exact = 0;
    double magnitude = 0.0;
    for (std::size_t k = 0; k < length; ++k) {
      auto p = (std::int64_t{1} << 20) + std::uniform_int_distribution<std::int64_t>(-50, 50)(rng);
      auto q = (k % 3 ? 1 : -1) * ((std::int64_t{1} << 20) + std::uniform_int_distribution<std::int64_t>(-50, 50)(rng));
      a[k] = static_cast<double>(p);
      b[k] = static_cast<double>(q);
      exact += p * q;
      magnitude += std::fabs(a[k] * b[k]);
    }
    double got = accurate_dot(a.data(), b.data(), length);
    EXPECT_LE(std::fabs(got - static_cast<double>(exact)), 32 * std::ldexp(magnitude, -53) + 0.0) << length;
  }
}

}  // namespace
}  // namespace lagscan::matrix
