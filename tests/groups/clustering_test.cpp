// The average-linkage tree, its cuts and medoids, and the mean of --center:
// the tree against the plain closest-pair method (cluster distances as true
// means over member pairs, O(n^3)) on a table of random sets, and the rules
// for ties, cuts, nan and identical files on small sets made by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "matrix/center.h"
#include "groups/clustering.h"
#include "groups/groups.h"

namespace lagscan::matrix {
namespace {

using members = std::vector<std::size_t>;  // sorted

// The plain method: join the closest pair of clusters, the distance of two
// clusters being the mean of the given distances between their members.
// Answers each join as its members and height.
std::map<members, double> plain_average_linkage(const std::vector<double>& d, std::size_t n) {
  auto at = [&](std::size_t i, std::size_t j) { return d[condensed_index(n, std::min(i, j), std::max(i, j))]; };
  std::vector<members> open;
  for (std::size_t i = 0; i < n; ++i) open.push_back({i});
  std::map<members, double> joins;
  while (open.size() > 1) {
    double least = std::numeric_limits<double>::infinity();
    std::size_t p = 0;
    std::size_t q = 0;
    for (std::size_t a = 0; a < open.size(); ++a) {
      for (std::size_t b = a + 1; b < open.size(); ++b) {
        double sum = 0.0;
        for (std::size_t i : open[a]) {
          for (std::size_t j : open[b]) sum += at(i, j);
        }
        double mean = sum / static_cast<double>(open[a].size() * open[b].size());
        if (mean < least) {
          least = mean;
          p = a;
          q = b;
        }
      }
    }
    members joined = open[p];
    joined.insert(joined.end(), open[q].begin(), open[q].end());
    std::sort(joined.begin(), joined.end());
    joins[joined] = least;
    open.erase(open.begin() + static_cast<std::ptrdiff_t>(q));
    open[p] = joined;
  }
  return joins;
}

// Each merge of the tree as its members.
std::vector<members> members_of(const cluster_tree& tree) {
  std::vector<members> clusters;
  for (std::size_t i = 0; i < tree.leaves; ++i) clusters.push_back({i});
  for (const merge& m : tree.merges) {
    members joined = clusters[m.a];
    joined.insert(joined.end(), clusters[m.b].begin(), clusters[m.b].end());
    std::sort(joined.begin(), joined.end());
    clusters.push_back(joined);
  }
  return {clusters.begin() + static_cast<std::ptrdiff_t>(tree.leaves), clusters.end()};
}

enum class distances_kind {
  uniform,     // independent, uniform on [0, 2]
  correlated,  // 1 - the correlation of random vectors of three clumps
};

struct random_set {
  const char* name;
  std::size_t n;
  distances_kind kind;
  unsigned seed;
};

void PrintTo(const random_set& set, std::ostream* os) { *os << set.name; }

std::vector<double> make_distances(const random_set& set) {
  std::mt19937_64 rng(set.seed);
  const std::size_t n = set.n;
  std::vector<double> d(n < 2 ? 0 : n * (n - 1) / 2);
  if (set.kind == distances_kind::uniform) {
    std::uniform_real_distribution<double> unit(0.0, 2.0);
    for (double& v : d) v = unit(rng);
    return d;
  }
  std::normal_distribution<double> normal;
  const std::size_t length = 12;
  std::vector<std::vector<double>> centres(3, std::vector<double>(length));
  for (auto& c : centres) {
    for (double& v : c) v = normal(rng);
  }
  std::vector<std::vector<double>> x(n, std::vector<double>(length));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < length; ++k) x[i][k] = centres[i % 3][k] + 0.7 * normal(rng);
  }
  std::vector<double> table(n * n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      double xy = 0, xx = 0, yy = 0;
      for (std::size_t k = 0; k < length; ++k) {
        xy += x[i][k] * x[j][k];
        xx += x[i][k] * x[i][k];
        yy += x[j][k] * x[j][k];
      }
      table[i * n + j] = xy / std::sqrt(xx * yy);
    }
  }
  return condensed_distances(table, n);
}

class against_the_plain_method : public ::testing::TestWithParam<random_set> {};

TEST_P(against_the_plain_method, joins_the_same_clusters_at_the_same_heights) {
  const random_set& set = GetParam();
  std::vector<double> d = make_distances(set);
  const std::map<members, double> expected = plain_average_linkage(d, set.n);
  std::vector<double> work = d;
  const cluster_tree tree = average_linkage(work, set.n);
  ASSERT_EQ(tree_fault(tree), "");
  ASSERT_EQ(tree.merges.size(), set.n - 1);
  const std::vector<members> joins = members_of(tree);
  for (std::size_t k = 0; k < joins.size(); ++k) {
    auto found = expected.find(joins[k]);
    ASSERT_NE(found, expected.end()) << "merge " << k << " joins a cluster the plain method never forms";
    EXPECT_NEAR(tree.merges[k].height, found->second, 1e-12 * std::max(1.0, found->second)) << "merge " << k;
  }

  // Every cut is a set of runs of the leaf order, and the cuts by count and
  // by height agree.
  const std::vector<std::size_t> order = leaf_order(tree);
  std::vector<double> table(set.n * set.n, 0.0);
  for (std::size_t i = 0; i < set.n; ++i) {
    for (std::size_t j = i + 1; j < set.n; ++j) table[i * set.n + j] = table[j * set.n + i] = 1.0 - d[condensed_index(set.n, i, j)];
  }
  for (std::size_t k = 1; k <= set.n; ++k) {
    const grouping g = cut_into(tree, k, table);
    ASSERT_EQ(g.sizes.size(), k);
    std::set<std::size_t> finished;
    for (std::size_t p = 1; p < order.size(); ++p) {
      if (g.group_of[order[p]] == g.group_of[order[p - 1]]) continue;
      EXPECT_TRUE(finished.insert(g.group_of[order[p - 1]]).second) << "group split in the leaf order, k = " << k;
    }
    for (std::size_t q = 1; q < k; ++q) EXPECT_GE(g.sizes[q - 1], g.sizes[q]) << "numbered by size";
    if (k > 1 && k < set.n) {
      const grouping by_height = cut_at(tree, 1.0 - g.cut, table);
      EXPECT_EQ(by_height.group_of, g.group_of) << "k = " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    sets, against_the_plain_method,
    ::testing::Values(random_set{"two", 2, distances_kind::uniform, 1}, random_set{"three", 3, distances_kind::uniform, 2},
                      random_set{"uniform_9", 9, distances_kind::uniform, 3},
                      random_set{"uniform_40", 40, distances_kind::uniform, 4},
                      random_set{"uniform_77", 77, distances_kind::uniform, 5},
                      random_set{"clumps_12", 12, distances_kind::correlated, 6},
                      random_set{"clumps_60", 60, distances_kind::correlated, 7},
                      random_set{"clumps_101", 101, distances_kind::correlated, 8}),
    [](const auto& row) { return std::string(row.param.name); });

// A similarity table from its upper triangle, row by row.
std::vector<double> table_of(std::size_t n, const std::vector<double>& upper) {
  std::vector<double> t(n * n, 1.0);
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) t[i * n + j] = t[j * n + i] = upper[k++];
  }
  return t;
}

cluster_tree tree_of(const std::vector<double>& table, std::size_t n) {
  std::vector<double> d = condensed_distances(table, n);
  return average_linkage(d, n);
}

TEST(clustering, ties_go_to_the_chain_and_then_to_the_lowest_number) {
  // 0-1 and 1-2 tie at 0.2, 0-2 is 0.9: the chain from 0 reaches 1, whose
  // nearest are 0 (the chain's previous) and 2, so 0 and 1 join first.
  const std::vector<double> t = table_of(3, {0.8, 0.1, 0.8});
  const cluster_tree tree = tree_of(t, 3);
  ASSERT_EQ(tree.merges.size(), 2u);
  EXPECT_EQ(tree.merges[0].a, 0u);
  EXPECT_EQ(tree.merges[0].b, 1u);
  EXPECT_DOUBLE_EQ(tree.merges[0].height, 0.2);
  EXPECT_EQ(tree.merges[1].a, 2u);
  EXPECT_EQ(tree.merges[1].b, 3u);
  EXPECT_DOUBLE_EQ(tree.merges[1].height, (0.2 + 0.9) / 2);
  // All distances equal: the chain from 0 takes 1, then {0, 1} (slot 1)
  // takes 2, then 3.
  const cluster_tree flat = tree_of(table_of(4, std::vector<double>(6, 0.5)), 4);
  EXPECT_EQ(tree_fault(flat), "");
  const std::vector<std::size_t> order = leaf_order(flat);
  EXPECT_EQ(order, (std::vector<std::size_t>{3, 2, 0, 1}));
}

TEST(clustering, identical_files_join_at_height_zero_even_at_the_strictest_cut) {
  // Files 1 and 3 are the same; 0 and 2 differ from everything.
  const std::vector<double> t = table_of(4, {0.3, -0.2, 0.3, 0.1, 1.0, 0.1});
  const cluster_tree tree = tree_of(t, 4);
  ASSERT_EQ(tree_fault(tree), "");
  EXPECT_EQ(tree.merges[0].a, 1u);
  EXPECT_EQ(tree.merges[0].b, 3u);
  EXPECT_EQ(tree.merges[0].height, 0.0);
  const grouping strict = cut_at(tree, 1.0, t);
  EXPECT_EQ(strict.sizes, (std::vector<std::size_t>{2, 1, 1}));
  EXPECT_EQ(strict.group_of, (std::vector<std::size_t>{1, 0, 2, 0}));
  EXPECT_EQ(strict.representative, (std::vector<std::size_t>{1, 0, 2})) << "equal means: the first member";
}

TEST(clustering, cuts_at_the_ends) {
  const std::size_t n = 5;
  const std::vector<double> t = table_of(n, {0.9, 0.1, 0.2, 0.15, 0.3, 0.25, 0.05, 0.8, 0.7, 0.6});
  const cluster_tree tree = tree_of(t, n);
  struct row {
    const char* name;
    grouping g;
    std::vector<std::size_t> sizes;
  };
  const std::vector<row> rows = {
      {"k_1_one_group", cut_into(tree, 1, t), {5}},
      {"k_n_each_file_alone", cut_into(tree, n, t), {1, 1, 1, 1, 1}},
      {"above_every_height", cut_at(tree, -1.0, t), {5}},
      {"below_every_height", cut_at(tree, 1.0, t), {1, 1, 1, 1, 1}},
      {"between", cut_at(tree, 0.5, t), {3, 2}},
  };
  for (const row& r : rows) {
    EXPECT_EQ(r.g.sizes, r.sizes) << r.name;
    if (r.sizes.size() == n) {
      EXPECT_EQ(r.g.group_of, (std::vector<std::size_t>{0, 1, 2, 3, 4})) << r.name << ": alone, in file order";
      EXPECT_EQ(r.g.representative, (std::vector<std::size_t>{0, 1, 2, 3, 4})) << r.name;
    }
  }
  // {2, 3, 4} and {0, 1}. Mean similarities in the first: 2 has 0.8 and
  // 0.7, 3 has 0.8 and 0.6, 4 has 0.7 and 0.6; in the second they tie.
  const grouping between = cut_at(tree, 0.5, t);
  EXPECT_EQ(between.group_of, (std::vector<std::size_t>{1, 1, 0, 0, 0}));
  EXPECT_EQ(between.representative, (std::vector<std::size_t>{2, 0}));
}

TEST(clustering, a_nan_row_joins_last_at_distance_two) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = 4;
  // File 2 holds a nan: every similarity with it is nan.
  const std::vector<double> t = table_of(n, {0.9, nan, 0.4, nan, 0.5, nan});
  const cluster_tree tree = tree_of(t, n);
  ASSERT_EQ(tree_fault(tree), "");
  EXPECT_EQ(tree.merges.back().a, 2u);
  EXPECT_EQ(tree.merges.back().height, 2.0);
  EXPECT_EQ(leaf_order(tree).front(), 2u) << "a leaf is numbered below any cluster, so drawn first";
  const grouping two = cut_into(tree, 2, t);
  EXPECT_EQ(two.group_of, (std::vector<std::size_t>{0, 0, 1, 0}));
  // Files 1 and 3 hold nan: after 0 and 2 (at 0.1) every distance is 2, and
  // the ties go to the lowest-numbered slots.
  const std::vector<double> two_nan = table_of(n, {nan, 0.9, nan, nan, nan, nan});
  const cluster_tree tree2 = tree_of(two_nan, n);
  ASSERT_EQ(tree_fault(tree2), "");
  const std::vector<merge> expected = {{0, 2, 0.1, 2}, {1, 4, 2.0, 3}, {3, 5, 2.0, 4}};
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(tree2.merges[k].a, expected[k].a) << k;
    EXPECT_EQ(tree2.merges[k].b, expected[k].b) << k;
    EXPECT_DOUBLE_EQ(tree2.merges[k].height, expected[k].height) << k;
    EXPECT_EQ(tree2.merges[k].size, expected[k].size) << k;
  }
}

TEST(clustering, one_file_and_none) {
  std::vector<double> none;
  const cluster_tree one = average_linkage(none, 1);
  EXPECT_TRUE(one.merges.empty());
  EXPECT_EQ(leaf_order(one), (std::vector<std::size_t>{0}));
  const grouping g = cut_into(one, 1, {1.0});
  EXPECT_EQ(g.sizes, (std::vector<std::size_t>{1}));
  EXPECT_EQ(g.representative, (std::vector<std::size_t>{0}));
  EXPECT_TRUE(leaf_order(average_linkage(none, 0)).empty());
}

TEST(center, the_mean_keeps_what_a_plain_sum_loses) {
  struct row {
    std::vector<double> values;
    double mean;
  };
  const std::vector<row> rows = {
      {{}, 0.0},
      {{5.0}, 5.0},
      {{1e16, 1.0, -1e16}, 1.0 / 3.0},  // a plain sum gives 0
      {{1.0, 1e100, 1.0, -1e100}, 0.5},
      {{0.1, 0.2, 0.3, 0.4}, 0.25},
  };
  for (const row& r : rows) {
    real_array a;
    for (double v : r.values) a.append(v);
    EXPECT_EQ(mean_of(a), r.mean) << r.values.size() << " values";
    center_values(a);
    for (std::int32_t i = 0; i < a.count; ++i) EXPECT_EQ(a[i], r.values[static_cast<std::size_t>(i)] - r.mean);
  }
}

}  // namespace
}  // namespace lagscan::matrix
