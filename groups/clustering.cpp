#include "groups/clustering.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>

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

  // Number the clusters in the order of height. A slot's joins depend on each
  // other in the order made; raising each height to its parts' keeps that
  // order under the stable sort even where rounding put a height lower.
  std::vector<double> slot_height(n, 0.0);
  for (merge& m : made) {
    m.height = std::max({m.height, slot_height[m.a], slot_height[m.b]});
    slot_height[m.b] = m.height;
  }
  std::vector<std::size_t> by_height(made.size());
  for (std::size_t k = 0; k < by_height.size(); ++k) by_height[k] = k;
  std::stable_sort(by_height.begin(), by_height.end(),
                   [&made](std::size_t p, std::size_t q) { return made[p].height < made[q].height; });
  std::vector<std::size_t> label(n);
  for (std::size_t i = 0; i < n; ++i) label[i] = i;
  tree.merges.reserve(made.size());
  for (std::size_t k : by_height) {
    const merge& m = made[k];
    const std::size_t a = label[m.a];
    const std::size_t b = label[m.b];
    tree.merges.push_back({std::min(a, b), std::max(a, b), m.height, m.size});
    label[m.b] = n + tree.merges.size() - 1;
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
