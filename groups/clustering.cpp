#include "groups/clustering.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace lagscan::matrix {
namespace {

constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

// The open clusters, by slot: a cluster lives in the slot of the larger
// number of its two parts. base[i] + j is the condensed place of d(i, j) for
// i < j, so a row's distances are read without multiplications.
struct chain_state {
  std::size_t n;
  std::vector<double>& d;
  std::vector<std::size_t> base;
  std::vector<std::uint32_t> open;  // the open slots, ascending
  std::vector<std::size_t> size;    // leaves of each slot's cluster; 0 once joined

  chain_state(std::vector<double>& distances, std::size_t count) : n(count), d(distances), base(count), size(count, 1) {
    open.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      base[i] = n * i - i * (i + 1) / 2 - i - 1;
      open[i] = static_cast<std::uint32_t>(i);
    }
  }

  double& at(std::size_t i, std::size_t j) { return i < j ? d[base[i] + j] : d[base[j] + i]; }

  // x's nearest open cluster: `previous` (none at a chain's start) when it
  // is among the nearest, else the lowest-numbered of them. The slots below
  // x read down a column of the triangle, those above along x's row.
  std::size_t nearest(std::size_t x, std::size_t previous, double& distance) {
    std::size_t best = previous;
    double least = previous == none ? std::numeric_limits<double>::infinity() : at(x, previous);
    const auto split = static_cast<std::size_t>(std::lower_bound(open.begin(), open.end(), x) - open.begin());
    for (std::size_t k = 0; k < split; ++k) {
      const std::size_t i = open[k];
      const double v = d[base[i] + x];
      if (v < least || best == none) {
        least = v;
        best = i;
      }
    }
    const double* row = d.data() + base[x];
    for (std::size_t k = split + 1; k < open.size(); ++k) {
      const std::size_t i = open[k];
      if (row[i] < least || best == none) {
        least = row[i];
        best = i;
      }
    }
    distance = least;
    return best;
  }

  // Joins the clusters of slots x < y into slot y.
  void join(std::size_t x, std::size_t y) {
    const auto size_x = static_cast<double>(size[x]);
    const auto size_y = static_cast<double>(size[y]);
    const double total = size_x + size_y;
    for (std::uint32_t i : open) {
      if (i == x || i == y) continue;
      double& to_y = at(i, y);
      to_y = (size_x * at(i, x) + size_y * to_y) / total;
    }
    size[y] += size[x];
    size[x] = 0;
    open.erase(std::lower_bound(open.begin(), open.end(), static_cast<std::uint32_t>(x)));
  }
};

}  // namespace

double distance_of(double similarity) {
  if (std::isnan(similarity)) return 2.0;
  return std::clamp(1.0 - similarity, 0.0, 2.0);
}

double bounded_similarity(double similarity) {
  if (std::isnan(similarity)) return -1.0;
  return std::clamp(similarity, -1.0, 1.0);
}

std::vector<double> condensed_distances(const std::vector<double>& similarities, std::size_t n) {
  std::vector<double> d(n < 2 ? 0 : n * (n - 1) / 2);
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) d[k++] = distance_of(similarities[i * n + j]);
  }
  return d;
}

cluster_tree average_linkage(std::vector<double>& distances, std::size_t n) {
  assert(distances.size() == (n < 2 ? 0 : n * (n - 1) / 2) && "average_linkage: not n(n-1)/2 distances");
  assert(n < (std::size_t{1} << 32) && "average_linkage: slots are 32-bit");
  cluster_tree tree;
  tree.leaves = n;
  if (n < 2) return tree;

  // The joins in the order made, by slot: a is x, b is y.
  std::vector<merge> made;
  made.reserve(n - 1);
  chain_state state(distances, n);
  std::vector<std::size_t> chain;
  chain.reserve(n);
  while (made.size() + 1 < n) {
    if (chain.empty()) chain.push_back(state.open.front());
    // Follow nearest neighbours until two clusters are each other's nearest.
    // Average linkage is reducible: a join never brings a cluster nearer to
    // a third than the nearer of its parts was, so the rest of the chain
    // stays valid after the join and the joins are those of the plain
    // closest-pair method.
    std::size_t x = 0;
    std::size_t y = 0;
    double height = 0.0;
    for (;;) {
      x = chain.back();
      const std::size_t previous = chain.size() > 1 ? chain[chain.size() - 2] : none;
      y = state.nearest(x, previous, height);
      if (y == previous) break;
      chain.push_back(y);
    }
    chain.pop_back();
    chain.pop_back();
    if (x > y) std::swap(x, y);
    made.push_back({x, y, height, state.size[x] + state.size[y]});
    state.join(x, y);
  }

  // Number the clusters as scipy's linkage does: the joins in the order of
  // height (equal heights in the order made), each joining the clusters
  // that then hold the leaves of its two slots. A join that rounding put a
  // unit under one made before it comes first, then, and joins what that
  // leaves: the tree scipy builds from the same distances, to the bit.
  std::vector<std::size_t> by_height(made.size());
  for (std::size_t k = 0; k < by_height.size(); ++k) by_height[k] = k;
  std::stable_sort(by_height.begin(), by_height.end(),
                   [&made](std::size_t p, std::size_t q) { return made[p].height < made[q].height; });
  // Each cluster's parent once joined (itself while it is a root), and size.
  std::vector<std::size_t> parent(2 * n - 1);
  std::vector<std::size_t> size(2 * n - 1, 1);
  for (std::size_t c = 0; c < parent.size(); ++c) parent[c] = c;
  auto root = [&parent](std::size_t c) {
    std::size_t r = c;
    while (parent[r] != r) r = parent[r];
    while (parent[c] != r) c = std::exchange(parent[c], r);
    return r;
  };
  tree.merges.reserve(made.size());
  for (std::size_t k : by_height) {
    const std::size_t a = root(made[k].a);
    const std::size_t b = root(made[k].b);
    const std::size_t joined = n + tree.merges.size();
    size[joined] = size[a] + size[b];
    parent[a] = parent[b] = joined;
    tree.merges.push_back({std::min(a, b), std::max(a, b), made[k].height, size[joined]});
  }
  return tree;
}

std::vector<std::size_t> leaf_order(const cluster_tree& tree) {
  const std::size_t n = tree.leaves;
  std::vector<std::size_t> order;
  order.reserve(n);
  if (n == 0) return order;
  std::vector<std::size_t> stack{2 * n - 2};
  while (!stack.empty()) {
    const std::size_t c = stack.back();
    stack.pop_back();
    if (c < n) {
      order.push_back(c);
      continue;
    }
    const merge& m = tree.merges[c - n];
    stack.push_back(m.b);
    stack.push_back(m.a);
  }
  return order;
}

std::string tree_fault(const cluster_tree& tree) {
  const std::size_t n = tree.leaves;
  if (n > 0 && tree.merges.size() != n - 1) return "not n - 1 merges";
  std::vector<bool> joined(n == 0 ? 0 : 2 * n - 1, false);
  std::vector<std::size_t> size(joined.size(), 1);
  std::vector<double> height(joined.size(), 0.0);
  for (std::size_t k = 0; k < tree.merges.size(); ++k) {
    const merge& m = tree.merges[k];
    const std::string at = "merge " + std::to_string(k) + ": ";
    if (!(m.a < m.b && m.b < n + k)) return at + "clusters out of order";
    if (joined[m.a] || joined[m.b]) return at + "a cluster joined twice";
    joined[m.a] = joined[m.b] = true;
    if (m.size != size[m.a] + size[m.b]) return at + "wrong size";
    if (!(m.height >= height[m.a] && m.height >= height[m.b])) return at + "lower than a part";
    if (k > 0 && m.height < tree.merges[k - 1].height) return at + "lower than the merge before";
    size[n + k] = m.size;
    height[n + k] = m.height;
  }
  return "";
}

}  // namespace lagscan::matrix
