// The calls on whole sets against all_pairs, over a table of random sets:
// set A against set B, the condensed triangle and each sequence's nearest
// must carry the table's bits for every pair (method::fast included, where
// a pair's bits depend on its place in the window sums' grid), centring
// must be lagscan-matrix --center's, and every refusal must come before any
// work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "api/api_support.h"
#include "lagscan/lagscan.hpp"
#include "memory/heap_3.h"

namespace lagscan::testing {
namespace {

struct set_case {
  const char* name;
  std::size_t items;
  std::size_t n;
  int s;
  method how;
  bool center = false;
  double offset = 0.0;
  // Sequence 1 holds values near 1e200: method::fast forms its pairs exactly.
  bool one_outside_fast_domain = false;
};

const set_case set_cases[] = {
    {"no_items", 0, 10, 3, method::exact},
    {"one_item", 1, 10, 3, method::exact},
    {"two_items_fast", 2, 30, 5, method::fast},
    {"seven_exact", 7, 40, 11, method::exact},
    {"seven_fast", 7, 40, 11, method::fast},
    {"window_wider_than_data_fast", 9, 6, 41, method::fast},
    {"offset_1e3_centred_exact", 12, 60, 21, method::exact, true, 1e3},
    {"offset_1e3_centred_fast", 12, 60, 21, method::fast, true, 1e3},
    {"one_outside_the_fast_domain", 10, 30, 7, method::fast, false, 0.0, true},
    {"one_outside_the_fast_domain_exact", 10, 30, 7, method::exact, false, 0.0, true},
    // More than one tile of 256 of the window sums' grid.
    {"three_hundred_fast", 300, 24, 5, method::fast},
    {"three_hundred_exact", 300, 24, 5, method::exact},
};

class set_calls : public ::testing::TestWithParam<set_case> {
 protected:
  static void SetUpTestSuite() { locking_switch.fetch_or(1); }

  void SetUp() override {
    const set_case& c = GetParam();
    for (std::size_t i = 0; i < c.items; ++i) values.push_back(random_values(c.n, 700 + i, c.offset));
    if (c.one_outside_fast_domain) {
      for (double& v : values[1]) v = 1e200 * (v + 2.0);
    }
    // Two items alike to the bit, so that ties meet the nearest's order.
    if (c.items > 4) values[4] = values[2];
    spans.assign(values.begin(), values.end());
    options.how = c.how;
    options.center = c.center;
    options.threads = 2;
  }

  std::vector<double> table() const { return all_pairs(spans, GetParam().s, options); }

  std::vector<std::vector<double>> values;
  std::vector<std::span<const double>> spans;
  matrix_options options;
};

void expect_same_bits(const std::vector<double>& got, const std::vector<double>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_TRUE(same_bits(got[k], expected[k])) << k << ": " << bits_text(got[k]) << " for " << bits_text(expected[k]);
  }
}

TEST_P(set_calls, set_a_against_set_b_has_the_bits_of_the_table_of_both) {
  const set_case& c = GetParam();
  const std::vector<double> whole = table();
  const std::size_t n = c.items;
  for (std::size_t split : {std::size_t{0}, n / 3, n / 2, n}) {
    const std::vector<std::span<const double>> a(spans.begin(), spans.begin() + static_cast<std::ptrdiff_t>(split));
    const std::vector<std::span<const double>> b(spans.begin() + static_cast<std::ptrdiff_t>(split), spans.end());
    const std::vector<double> between = all_pairs(a, b, c.s, options);
    std::vector<double> expected;
    for (std::size_t i = 0; i < split; ++i) {
      for (std::size_t j = split; j < n; ++j) expected.push_back(whole[i * n + j]);
    }
    expect_same_bits(between, expected);
    // The same through the vectors of vectors, on one thread.
    matrix_options one = options;
    one.threads = 1;
    const sequence_vectors va(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(split));
    const sequence_vectors vb(values.begin() + static_cast<std::ptrdiff_t>(split), values.end());
    expect_same_bits(all_pairs(va, vb, c.s, one), expected);
  }
}

TEST_P(set_calls, condensed_is_the_upper_triangle_in_scipys_order) {
  const set_case& c = GetParam();
  const std::vector<double> whole = table();
  const std::size_t n = c.items;
  std::vector<double> similarities;
  std::vector<double> distances;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const double v = whole[i * n + j];
      similarities.push_back(v);
      distances.push_back(std::isnan(v) ? 2.0 : std::clamp(1.0 - v, 0.0, 2.0));
    }
  }
  expect_same_bits(condensed(spans, c.s, measure::similarity, options), similarities);
  expect_same_bits(condensed(values, c.s, measure::distance, options), distances);
}

TEST_P(set_calls, nearest_is_a_sort_of_the_tables_rows) {
  const set_case& c = GetParam();
  const std::vector<double> whole = table();
  const std::size_t n = c.items;
  for (std::size_t top : {std::size_t{1}, std::size_t{3}, n + 2}) {
    for (int threads : {1, 2}) {
      matrix_options o = options;
      o.threads = threads;
      const neighbours found = nearest(spans, c.s, top, o);
      ASSERT_EQ(found.top, top);
      ASSERT_EQ(found.positions.size(), n * top);
      ASSERT_EQ(found.values.size(), n * top);
      for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::size_t> others;
        for (std::size_t j = 0; j < n; ++j) {
          if (j != i) others.push_back(j);
        }
        // Larger first, NaN last, equal values by position.
        std::stable_sort(others.begin(), others.end(), [&](std::size_t p, std::size_t q) {
          const double vp = whole[i * n + p];
          const double vq = whole[i * n + q];
          if (std::isnan(vp) != std::isnan(vq)) return std::isnan(vq);
          return !std::isnan(vp) && vp > vq;
        });
        for (std::size_t k = 0; k < top; ++k) {
          const std::size_t at = i * top + k;
          if (k < others.size()) {
            EXPECT_EQ(found.positions[at], others[k]) << "item " << i << ", place " << k << ", top " << top;
            EXPECT_TRUE(same_bits(found.values[at], whole[i * n + others[k]])) << bits_text(found.values[at]);
          } else {
            EXPECT_EQ(found.positions[at], no_item);
            EXPECT_TRUE(std::isnan(found.values[at]));
          }
        }
      }
    }
  }
}

TEST_P(set_calls, centring_is_taking_the_means_off_first) {
  const set_case& c = GetParam();
  // Centred copies made the way --center documents it: the mean with
  // Neumaier's compensation, then one subtraction a value.
  std::vector<std::vector<double>> centred = values;
  for (std::vector<double>& v : centred) {
    double sum = 0.0;
    double lost = 0.0;
    for (double x : v) {
      const double next = sum + x;
      lost += std::fabs(sum) >= std::fabs(x) ? (sum - next) + x : (x - next) + sum;
      sum = next;
    }
    const double mean = (sum + lost) / static_cast<double>(v.size());
    for (double& x : v) x -= mean;
  }
  const std::vector<std::vector<double>> before = values;
  matrix_options centring = options;
  centring.center = true;
  matrix_options plain = options;
  plain.center = false;
  expect_same_bits(all_pairs(spans, c.s, centring), all_pairs(centred, c.s, plain));
  if (c.items > 0) {
    expect_same_bits(against(values[0], spans, c.s, centring), against(centred[0], centred, c.s, plain));
  }
  expect_same_bits(condensed(spans, c.s, measure::similarity, centring),
                   condensed(centred, c.s, measure::similarity, plain));
  expect_same_bits(all_pairs(spans, spans, c.s, centring), all_pairs(centred, centred, c.s, plain));
  EXPECT_EQ(values, before) << "the host's values were changed";
  if (c.offset >= 1e3) {
    // Without centring, offsets of 10^3 leave every value near 1.
    for (double v : all_pairs(spans, c.s, plain)) EXPECT_GT(v, 0.99);
  }
}

TEST_P(set_calls, the_tree_is_the_same_from_the_values_and_from_the_table) {
  const set_case& c = GetParam();
  const std::vector<double> whole = table();
  const std::vector<double> from_values = linkage(spans, c.s, options);
  ASSERT_EQ(from_values.size(), c.items > 0 ? (c.items - 1) * 4 : 0);
  expect_same_bits(from_values, linkage(similarity_table{whole, c.items}));
  for (std::size_t row = 0; row + 1 < c.items; ++row) {
    EXPECT_LT(from_values[row * 4], from_values[row * 4 + 1]);
    EXPECT_LT(from_values[row * 4 + 1], static_cast<double>(c.items + row));
  }
  if (c.items == 0) return;
  const grouping g = groups(spans, c.s, std::min<std::size_t>(3, c.items), options);
  const grouping from_table = groups(similarity_table{whole, c.items}, std::min<std::size_t>(3, c.items));
  EXPECT_EQ(g.labels, from_table.labels);
  EXPECT_EQ(g.sizes, from_table.sizes);
  EXPECT_EQ(g.medoids, from_table.medoids);
  EXPECT_EQ(std::accumulate(g.sizes.begin(), g.sizes.end(), std::size_t{0}), c.items);
  EXPECT_TRUE(std::is_sorted(g.sizes.rbegin(), g.sizes.rend()));
  for (std::size_t group = 0; group < g.medoids.size(); ++group) EXPECT_EQ(g.labels[g.medoids[group]], group + 1);
}

INSTANTIATE_TEST_SUITE_P(cases, set_calls, ::testing::ValuesIn(set_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// name, call: each must throw std::invalid_argument before any work.
struct refusal {
  const char* name;
  void (*call)(const sequence_vectors& sets);
};

const refusal refusals[] = {
    {"between_with_a_set_of_another_length",
     [](const sequence_vectors& sets) { all_pairs(sets, sequence_vectors{std::vector<double>(3)}, 3); }},
    {"condensed_of_unequal_lengths",
     [](const sequence_vectors& sets) {
       sequence_vectors longer = sets;
       longer.back().push_back(1.0);
       condensed(longer, 3);
     }},
    {"nearest_of_none", [](const sequence_vectors& sets) { nearest(sets, 3, 0); }},
    {"nearest_with_an_even_width", [](const sequence_vectors& sets) { nearest(sets, 4, 2); }},
    {"no_groups", [](const sequence_vectors& sets) { groups(sets, 3, 0); }},
    {"more_groups_than_items", [](const sequence_vectors& sets) { groups(sets, 3, sets.size() + 1); }},
    {"a_cut_above_1", [](const sequence_vectors& sets) { groups_at(sets, 3, 1.5); }},
    {"a_cut_below_minus_1", [](const sequence_vectors& sets) { groups_at(sets, 3, -1.01); }},
    {"a_cut_that_is_not_a_number",
     [](const sequence_vectors& sets) { groups_at(sets, 3, std::numeric_limits<double>::quiet_NaN()); }},
    {"a_table_of_the_wrong_size",
     [](const sequence_vectors&) {
       const std::vector<double> t(8);
       linkage(similarity_table{t, 3});
     }},
    {"groups_of_a_table_of_the_wrong_size",
     [](const sequence_vectors&) {
       const std::vector<double> t(9);
       groups(similarity_table{t, 2}, 1);
     }},
    {"precomputed_of_a_table_of_the_wrong_size",
     [](const sequence_vectors&) {
       const std::vector<double> t(5);
       precomputed(similarity_table{t, 2});
     }},
    {"threads_below_0",
     [](const sequence_vectors& sets) {
       matrix_options o;
       o.threads = -1;
       condensed(sets, 3, measure::similarity, o);
     }},
    {"threads_above_the_bound",
     [](const sequence_vectors& sets) {
       matrix_options o;
       o.threads = max_threads + 1;
       all_pairs(sets, 3, o);
     }},
    {"a_pairs_threads_above_the_bound",
     [](const sequence_vectors& sets) { correlation(sets[0], sets[1], 3, max_threads + 1); }},
    {"more_blocks_than_the_bound", [](const sequence_vectors&) { tile_shape(10, max_blocks + 1, 1); }},
    {"a_tile_past_the_last", [](const sequence_vectors&) { tile_shape(10, 3, 7); }},
};

class set_refusals : public ::testing::TestWithParam<refusal> {};

TEST_P(set_refusals, are_invalid_arguments) {
  const sequence_vectors sets{random_values(10, 1), random_values(10, 2), random_values(10, 3)};
  EXPECT_THROW(GetParam().call(sets), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(cases, set_refusals, ::testing::ValuesIn(refusals),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(set_threads, counts_above_the_processors_give_the_same_bits) {
  const sequence_vectors sets{random_values(500, 1), random_values(500, 2), random_values(500, 3)};
  matrix_options one;
  one.threads = 1;
  matrix_options many;
  many.threads = max_threads;
  expect_same_bits(all_pairs(sets, 101, many), all_pairs(sets, 101, one));
  const std::vector<double> long_a = random_values(100000, 4);
  const std::vector<double> long_b = random_values(100000, 5);
  EXPECT_TRUE(same_bits(correlation(long_a, long_b, 101, max_threads), correlation(long_a, long_b, 101)));
}

TEST(tile_shapes, come_from_the_blocks) {
  // 5 items in 3 blocks: 0-0, 1-2, 3-4; tile 2 is (1, 2), tile 4 is (2, 2).
  EXPECT_EQ(tile_shape(5, 3, 2).rows, 1u);
  EXPECT_EQ(tile_shape(5, 3, 2).columns, 2u);
  EXPECT_EQ(tile_shape(5, 3, 4).rows, 2u);
  EXPECT_EQ(tile_shape(5, 3, 4).columns, 2u);
  // More blocks than items: empty blocks, empty tiles.
  EXPECT_EQ(tile_shape(2, 4, 1).rows, 0u);
  const tile_size last = tile_shape(2, 4, 10);
  EXPECT_EQ(last.rows, 1u);
  EXPECT_EQ(last.columns, 1u);
}

}  // namespace
}  // namespace lagscan::testing
