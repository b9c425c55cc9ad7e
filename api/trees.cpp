// The tree and the groups of lagscan-matrix's clustering, from sequences or
// from a table the host holds, and the distances other tools cluster on.

#include <cmath>
#include <string>

#include "api/checks.h"
#include "api/library_calls.h"
#include "api/sets.h"
#include "lagscan/lagscan.hpp"
#include "groups/clustering.h"
#include "groups/groups.h"

namespace lagscan {
namespace {

// The clustering's slots are 32-bit, and n x n must not wrap.
constexpr std::size_t most_items = (std::size_t{1} << 32) - 1;

void check_table(const similarity_table& table) {
  if (table.n > most_items || table.values.size() != table.n * table.n) {
    throw std::invalid_argument("a table of " + std::to_string(table.n) + " items holds " +
                                std::to_string(table.n) + " x " + std::to_string(table.n) + " values, not " +
                                std::to_string(table.values.size()));
  }
}

void check_count(std::size_t n) {
  if (n > most_items) throw std::invalid_argument("more than 2^32 - 1 items to cluster");
}

// The distances the command clusters on, from a table's upper triangle.
std::vector<double> table_distances(const similarity_table& table) {
  const std::size_t n = table.n;
  std::vector<double> d(n < 2 ? 0 : n * (n - 1) / 2);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) d[matrix::condensed_index(n, i, j)] = matrix::distance_of(table.values[i * n + j]);
  }
  return d;
}

// The merges in scipy's layout: a, b, height, size a row.
std::vector<double> scipy_rows(const matrix::cluster_tree& tree) {
  std::vector<double> rows;
  rows.reserve(tree.merges.size() * 4);
  for (const matrix::merge& m : tree.merges) {
    rows.insert(rows.end(), {static_cast<double>(m.a), static_cast<double>(m.b), m.height, static_cast<double>(m.size)});
  }
  return rows;
}

grouping public_grouping(const matrix::grouping& g) {
  grouping result;
  result.labels.reserve(g.group_of.size());
  for (std::size_t group : g.group_of) result.labels.push_back(group + 1);
  result.sizes = g.sizes;
  result.medoids = g.representative;
  return result;
}

void check_k(std::size_t k, std::size_t n) {
  if (k < 1 || k > n) {
    throw std::invalid_argument("k must be from 1 to the " + std::to_string(n) + " items, not " + std::to_string(k));
  }
}

void check_at(double at) {
  if (!(at >= -1.0 && at <= 1.0)) throw std::invalid_argument("the cut must be a similarity from -1 to 1");
}

// The groups of a whole table (the medoids need every member's row).
template <class Cut>
grouping groups_of(const std::vector<double>& similarities, std::size_t n, Cut cut) {
  std::vector<double> distances = table_distances({similarities, n});
  const matrix::cluster_tree tree = matrix::average_linkage(distances, n);
  return public_grouping(cut(tree, similarities));
}

template <class Cut>
grouping groups_of(sequences sets, int s, const matrix_options& options, Cut cut) {
  check_count(sets.size());
  const std::vector<double> table = all_pairs(sets, s, options);
  return groups_of(table, sets.size(), cut);
}

}  // namespace

inline namespace v0 {

std::vector<double> linkage(sequences sets, int s, const matrix_options& options) {
  return api::library_call([&] {
    check_count(sets.size());
    std::vector<double> distances = condensed(sets, s, measure::distance, options);
    return scipy_rows(matrix::average_linkage(distances, sets.size()));
  });
}

std::vector<double> linkage(similarity_table table) {
  return api::library_call([&] {
    check_table(table);
    std::vector<double> distances = table_distances(table);
    return scipy_rows(matrix::average_linkage(distances, table.n));
  });
}

grouping groups(similarity_table table, std::size_t k) {
  return api::library_call([&] {
    check_table(table);
    check_k(k, table.n);
    const std::vector<double> similarities(table.values.begin(), table.values.end());
    return groups_of(similarities, table.n, [k](const matrix::cluster_tree& tree, const std::vector<double>& values) {
      return matrix::cut_into(tree, k, values);
    });
  });
}

grouping groups(sequences sets, int s, std::size_t k, const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    check_k(k, sets.size());
    return groups_of(sets, s, options, [k](const matrix::cluster_tree& tree, const std::vector<double>& values) {
      return matrix::cut_into(tree, k, values);
    });
  });
}

grouping groups_at(similarity_table table, double at) {
  return api::library_call([&] {
    check_table(table);
    check_at(at);
    const std::vector<double> similarities(table.values.begin(), table.values.end());
    return groups_of(similarities, table.n, [at](const matrix::cluster_tree& tree, const std::vector<double>& values) {
      return matrix::cut_at(tree, at, values);
    });
  });
}

grouping groups_at(sequences sets, int s, double at, const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    check_at(at);
    return groups_of(sets, s, options, [at](const matrix::cluster_tree& tree, const std::vector<double>& values) {
      return matrix::cut_at(tree, at, values);
    });
  });
}

std::vector<double> precomputed(similarity_table table) {
  return api::library_call([&] {
    check_table(table);
    const std::size_t n = table.n;
    std::vector<double> distances(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        distances[i * n + j] = distances[j * n + i] = matrix::distance_of(table.values[i * n + j]);
      }
    }
    return distances;
  });
}

}  // namespace v0
}  // namespace lagscan
