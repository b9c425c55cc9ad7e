// Every fast lag path against the reference order, bit for bit.
//
// Results are compared as bit patterns, except that two NaNs count as equal
// whatever their sign and payload: when both operands of an addition or a
// multiplication are NaN, the machine keeps the payload of the one that comes
// first in the instruction, and C++ lets the compiler swap the operands of
// these commutative operations, so not even the reference pins the payload.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/lag_correlation.h"
#include "app/lag_kernels.h"
#include "app/shifted_sums.h"
#include "app/team_correlation.h"

namespace lagscan {
namespace {

#if defined(LAGSCAN_SANITIZE)
constexpr bool sanitized = true;  // instrumented code runs many times slower
#else
constexpr bool sanitized = false;
#endif

constexpr std::int64_t longest = 300;

std::string hex_text(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

::testing::AssertionResult same_bits(double expected, double got) {
  if (std::isnan(expected) && std::isnan(got)) return ::testing::AssertionSuccess();
  if (std::bit_cast<std::uint64_t>(expected) == std::bit_cast<std::uint64_t>(got)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "expected " << hex_text(expected) << ", got " << hex_text(got);
}

// What the values of a sequence are drawn from. Each kind is a separate run,
// since a single infinity or NaN would hide every other difference in the
// sums it reaches.
enum class value_kind {
  mixed,     // both signs, magnitudes over 2^-40 .. 2^40: rounding shows the order
  specials,  // mixed, with a few infinities, NaNs and signed zeros among them
  tiny,      // subnormals and signed zeros: products underflow to +0 or -0
  huge,      // near the top of the range: products and sums overflow
};

constexpr value_kind all_kinds[] = {value_kind::mixed, value_kind::specials, value_kind::tiny, value_kind::huge};

const char* kind_name(value_kind kind) {
  switch (kind) {
    case value_kind::mixed: return "mixed";
    case value_kind::specials: return "specials";
    case value_kind::tiny: return "tiny";
    case value_kind::huge: return "huge";
  }
  return "?";
}

double draw(value_kind kind, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-40, 40);
  std::uniform_int_distribution<int> percent(0, 99);
  switch (kind) {
    case value_kind::mixed: return std::ldexp(unit(rng), exponent(rng));
    case value_kind::specials: {
      int p = percent(rng);
      if (p == 0) return (rng() & 1) != 0 ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
      if (p == 1) return std::bit_cast<double>(0x7FF8000000000000u | (rng() & 0x8007FFFFFFFFFFFFu));  // NaN, any sign and payload
      if (p < 6) return (rng() & 1) != 0 ? 0.0 : -0.0;
      return std::ldexp(unit(rng), exponent(rng));
    }
    case value_kind::tiny: {
      if (percent(rng) < 20) return (rng() & 1) != 0 ? 0.0 : -0.0;
      return std::bit_cast<double>(rng() & 0x800FFFFFFFFFFFFFu);  // exponent field 0
    }
    case value_kind::huge: return std::ldexp(unit(rng), 1000 + exponent(rng) / 4);
  }
  return 0.0;
}

void fill_random(real_array& a, std::int64_t n, value_kind kind, std::mt19937_64& rng) {
  a.count = 0;
  for (std::int64_t i = 0; i < n; ++i) a.append(draw(kind, rng));
}

void make_window(real_array& w, std::int32_t s) {
  w.reserve(s, false);
  w.count = s;
  make_triangle_window(w);
}

// The lengths to try: all up to longest, so that every number of whole
// groups of four and every tail occurs for every lag; under a sanitizer all
// short ones and a sample of the rest.
std::vector<std::int64_t> lengths_to_try(std::mt19937_64& rng) {
  std::vector<std::int64_t> lengths;
  for (std::int64_t n = 0; n <= longest; ++n) {
    if (!sanitized || n <= 40 || rng() % 4 == 0) lengths.push_back(n);
  }
  return lengths;
}

// Window widths from 1 to past 2n - 1, where lags stop overlapping.
std::vector<std::int32_t> widths_to_try(std::int64_t n, std::mt19937_64& rng) {
  auto all_overlap = static_cast<std::int32_t>(2 * n - 1);
  std::vector<std::int32_t> widths = {1, 3, 5, 7, 9, 15, 17, 33};
  for (std::int32_t s : {all_overlap - 2, all_overlap, all_overlap + 2, all_overlap + 40}) {
    if (s >= 1) widths.push_back(s);
  }
  widths.push_back(2 * static_cast<std::int32_t>(rng() % static_cast<std::uint64_t>(n + 2)) + 1);
  return widths;
}

shifted_sums_fn shifted_sums_for(lag_path path) {
  switch (path) {
    case lag_path::sse2: return &shifted_sums_sse2;
    case lag_path::avx2: return &shifted_sums_avx2;
    case lag_path::avx512: return &shifted_sums_avx512;
    case lag_path::reference: break;
  }
  return nullptr;
}

}  // namespace

void PrintTo(lag_path path, std::ostream* os) { *os << lag_path_name(path); }

namespace {

class fast_path : public ::testing::TestWithParam<lag_path> {
 protected:
  void SetUp() override {
    if (!lag_path_available(GetParam())) GTEST_SKIP() << "this CPU lacks " << lag_path_name(GetParam());
  }
};

TEST_P(fast_path, weighted_sum_matches_the_reference_for_every_length_and_width) {
  std::mt19937_64 rng(7);
  real_array x, y, w;
  for (std::int64_t n : lengths_to_try(rng)) {
    for (value_kind kind : all_kinds) {
      fill_random(x, n, kind, rng);
      fill_random(y, n, kind, rng);
      for (std::int32_t s : widths_to_try(n, rng)) {
        make_window(w, s);
        double expected = lag_product_sum_reference(w, x, y);
        ASSERT_TRUE(same_bits(expected, lag_product_sum_on(GetParam(), w, x, y)))
            << "n=" << n << " s=" << s << " values " << kind_name(kind);
        ASSERT_TRUE(same_bits(lag_product_sum_reference(w, x, x), lag_product_sum_on(GetParam(), w, x, x)))
            << "own sum, n=" << n << " s=" << s << " values " << kind_name(kind);
      }
    }
  }
}

// The sum of a[k] * b[k] for 0 <= k < length in the reference order, as a
// window of width 1 sees it (its weight 1 and the +0.0 it starts from leave
// the lag sum unchanged, which is never -0.0).
double reference_pair_sum(const double* a, const double* b, std::int64_t length, real_array& a_part,
                          real_array& b_part) {
  a_part.count = 0;
  b_part.count = 0;
  for (std::int64_t k = 0; k < length; ++k) {
    a_part.append(a[k]);
    b_part.append(b[k]);
  }
  real_array one;
  make_window(one, 1);
  return lag_product_sum_reference(one, a_part, b_part);
}

// The sum of one lag d alone, from the reference: the pairs a[k], b[k + d].
double reference_lag_sum(const real_array& a, const real_array& b, std::int64_t d, real_array& a_part,
                         real_array& b_part) {
  return reference_pair_sum(a.buffer, b.buffer + d, a.count - d, a_part, b_part);
}

TEST_P(fast_path, every_lag_sum_matches_the_reference_in_every_block_layout) {
  shifted_sums_fn shifted_sums = shifted_sums_for(GetParam());
  std::mt19937_64 rng(11);
  real_array a, b, a_part, b_part;
  std::vector<double> sums(lags_per_pass);
  for (std::int64_t n : lengths_to_try(rng)) {
    for (value_kind kind : {value_kind::mixed, value_kind::tiny}) {
      fill_random(a, n, kind, rng);
      fill_random(b, n, kind, rng);
      std::vector<double> expected;
      for (std::int64_t d = 0; d < n; ++d) expected.push_back(reference_lag_sum(a, b, d, a_part, b_part));
      // Runs of random counts up to 71 (and one full pass at the longest
      // length), so that every mix of the kinds of blocks (up to 32, 16 and 8
      // lags) and a remainder occurs.
      for (std::int64_t first = 0; first < n;) {
        auto count = static_cast<std::int32_t>(std::min<std::int64_t>({lags_per_pass, n - first, 1 + static_cast<std::int64_t>(rng() % 71)}));
        if (n == longest && first == 0) count = lags_per_pass;
        shifted_sums(a.buffer, b.buffer, n, first, count, sums.data());
        for (std::int32_t j = 0; j < count; ++j) {
          ASSERT_TRUE(same_bits(expected[static_cast<std::size_t>(first + j)], sums[static_cast<std::size_t>(j)]))
              << "n=" << n << " lag " << first + j << " in a run of " << count << " from " << first << ", values "
              << kind_name(kind);
        }
        first += count;
      }
    }
  }
}

// The self sums form each lag sum once for lags -m and +m. That rests on
// the reference order itself: lag +m sums x[k] * x[k + m] and lag -m sums
// x[k + m] * x[k] over the same k, into the same partial sums, and each
// product is the same either way round, so the two lag sums are the same
// bits. Shown here for values that round, underflow, overflow, cancel to
// signed zeros and meet infinities.
TEST(self_sums, lag_minus_m_is_lag_plus_m_in_the_reference_order) {
  const double table[] = {0.0,   -0.0,    1.0,     -1.5,    0.1,     1e16,  -1e16, 3.0000000000000004,
                          1e-310, -4.9e-324, 1e-200, 1e200, -1e300, std::numeric_limits<double>::max(),
                          -std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
  const std::int64_t lengths[] = {2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 16, 17, 31, 64, 67};
  std::mt19937_64 rng(23);
  real_array x, a_part, b_part;
  for (std::int64_t n : lengths) {
    for (int draw_count = 0; draw_count < 40; ++draw_count) {
      // Few distinct values per sequence, so that infinities of both signs
      // meet in some sums and stay apart in others.
      x.count = 0;
      for (std::int64_t i = 0; i < n; ++i) x.append(table[rng() % std::size(table)]);
      for (std::int64_t m = 1; m < n; ++m) {
        double plus = reference_pair_sum(x.buffer, x.buffer + m, n - m, a_part, b_part);
        double minus = reference_pair_sum(x.buffer + m, x.buffer, n - m, a_part, b_part);
        ASSERT_TRUE(same_bits(plus, minus)) << "n=" << n << " lag " << m;
      }
    }
  }
}

// Wider than the lags the self sums keep: lags beyond self_lags_kept are
// formed for each sign, the ones within once, and the weighted sums of all
// are still added from -h up.
TEST_P(fast_path, self_sums_match_the_reference_within_and_past_the_lags_kept) {
  const std::int64_t n = self_lags_kept + 300;
  std::vector<std::int32_t> widths = {2 * self_lags_kept - 1, 2 * self_lags_kept + 1, 2 * self_lags_kept + 9};
  if (sanitized) widths = {2 * self_lags_kept + 9};
  std::mt19937_64 rng(31);
  real_array x, w;
  for (value_kind kind : {value_kind::mixed, value_kind::tiny}) {
    fill_random(x, n, kind, rng);
    for (std::int32_t s : widths) {
      make_window(w, s);
      ASSERT_TRUE(same_bits(lag_product_sum_reference(w, x, x), lag_product_sum_on(GetParam(), w, x, x)))
          << "n=" << n << " s=" << s << " values " << kind_name(kind);
    }
  }
}

// Any run of lags, on either side of zero or across it, has the lag sums
// of the whole: the offsets of a run that starts below zero are where a
// fault would show.
TEST_P(fast_path, any_run_of_lag_sums_is_that_part_of_all_of_them) {
  std::mt19937_64 rng(41);
  real_array x, y;
  for (std::int64_t n : {1, 2, 5, 9, 40, 301}) {
    fill_random(x, n, value_kind::mixed, rng);
    fill_random(y, n, value_kind::mixed, rng);
    const std::int64_t reach = n - 1;
    std::vector<double> all(static_cast<std::size_t>(2 * reach + 1));
    unweighted_lag_sums_reference(x, y, reach, all.data());
    for (int draw_count = 0; draw_count < 50; ++draw_count) {
      std::int64_t first = -reach + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(2 * reach + 1));
      std::int64_t count = 1 + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(reach + 1 - first));
      std::vector<double> run(static_cast<std::size_t>(count) + 1, 42.0);  // one more: nothing written past the run
      lag_sums_on(GetParam(), x, y, first, count, run.data());
      for (std::int64_t j = 0; j < count; ++j) {
        ASSERT_TRUE(same_bits(all[static_cast<std::size_t>(reach + first + j)], run[static_cast<std::size_t>(j)]))
            << "n=" << n << " lag " << first + j << " in a run from " << first << " of " << count;
      }
      ASSERT_EQ(run.back(), 42.0) << "n=" << n << " run from " << first << " of " << count;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(paths, fast_path, ::testing::Values(lag_path::sse2, lag_path::avx2, lag_path::avx512),
                         [](const auto& row) { return std::string(lag_path_name(row.param)); });

// The widest vectors this CPU runs are taken, and never a path it lacks;
// a build for comparisons takes the reference order.
TEST(lag_path, the_chosen_path_is_the_widest_this_cpu_runs) {
  lag_path chosen = chosen_lag_path();
  EXPECT_TRUE(lag_path_available(chosen)) << lag_path_name(chosen);
#if defined(LAGSCAN_REFERENCE_PATHS)
  EXPECT_EQ(chosen, lag_path::reference) << lag_path_name(chosen);
#else
  lag_path widest = lag_path_available(lag_path::avx512) ? lag_path::avx512
                    : lag_path_available(lag_path::avx2) ? lag_path::avx2
                                                         : lag_path::sse2;
  EXPECT_EQ(chosen, widest) << lag_path_name(chosen) << " instead of " << lag_path_name(widest);
#endif
}

// Skipped lags must add nothing: the total is built from +0.0 and can never
// become -0.0, so an all-negative-zero input still gives +0.0.
TEST(lag_path, lags_without_overlap_leave_a_zero_total_positive) {
  real_array x, y, w;
  for (int i = 0; i < 5; ++i) {
    x.append(-0.0);
    y.append(0.0);
  }
  make_window(w, 101);
  for (lag_path path : all_lag_paths) {
    if (!lag_path_available(path)) continue;
    EXPECT_TRUE(same_bits(0.0, lag_product_sum_on(path, w, x, y))) << lag_path_name(path);
  }
}

// A team shares one correlation's lag sums among its threads; the value
// keeps the bits of the calling thread's alone, for teams larger than the
// lags (empty shares), windows wider than the data, a sequence with itself,
// and values that overflow or are not numbers.
TEST(team_lag_correlation, has_the_bits_of_one_thread_on_any_team) {
  struct shape {
    std::int64_t n;
    std::int32_t s;
  };
  const shape shapes[] = {{0, 3}, {1, 1}, {1, 9}, {2, 3}, {5, 101}, {37, 7}, {300, 101}, {2000, 33}, {2000, 1001}};
  std::mt19937_64 rng(43);
  real_array a, b, w;
  for (const shape& c : shapes) {
    make_window(w, c.s);
    for (value_kind kind : all_kinds) {
      fill_random(a, c.n, kind, rng);
      fill_random(b, c.n, kind, rng);
      const double alone = lag_correlation(w, a, b);
      const double own = lag_correlation(w, a, a);
      for (int team : {2, 3, 4, 7, 16}) {
        ASSERT_TRUE(same_bits(alone, team_lag_correlation(w, a, b, team)))
            << "n=" << c.n << " s=" << c.s << " team " << team << " values " << kind_name(kind);
        ASSERT_TRUE(same_bits(own, team_lag_correlation(w, a, a, team)))
            << "with itself, n=" << c.n << " s=" << c.s << " team " << team << " values " << kind_name(kind);
      }
    }
  }
}

// A team is started only when the products pay for it, and never larger
// than asked for.
TEST(team_lag_correlation, short_sequences_keep_to_one_thread) {
  struct team_case {
    std::int64_t n;
    std::int32_t s;
    int threads;
    int team;
  };
  const team_case cases[] = {
      {0, 101, 8, 1}, {1000, 101, 8, 1}, {100000, 1, 8, 1}, {100000, 101, 1, 1},
      {100000, 101, 2, 2}, {100000, 101, 4, 4}, {1000000, 1001, 64, 64},
  };
  for (const team_case& c : cases) {
    EXPECT_EQ(worthwhile_team(c.n, c.s, c.threads), c.team) << "n=" << c.n << " s=" << c.s << " threads " << c.threads;
  }
}

}  // namespace
}  // namespace lagscan
