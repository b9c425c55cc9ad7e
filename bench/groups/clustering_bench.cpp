// The average-linkage tree alone, on n random condensed distances:
//
//   clustering_bench n seed [--plain] [--tree FILE]
//
// prints "seconds <wall time> cpu <processor time>" of the clustering and, with --tree, writes the
// merge list. The distances are uniform on [0, 2) from splitmix64 of
// seed + k + 1 for the k-th distance, so that bench/run-clustering can make
// the same ones in numpy for scipy. --plain runs the plain closest-pair
// method instead (O(n^3): every step scans all open pairs), with the same
// update rule, to show the growth.
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "groups/clustering.h"
#include "groups/groups.h"

namespace {

using namespace lagscan::matrix;

double splitmix_unit(std::uint64_t x) {
  std::uint64_t z = x * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * 0x1.0p-52;  // [0, 2)
}

// The plain method on condensed distances: the closest open pair (first in
// row order among equals), joined into the larger slot by the same rule.
cluster_tree plain_linkage(std::vector<double>& d, std::size_t n) {
  std::vector<std::size_t> size(n, 1);
  std::vector<std::size_t> label(n);
  for (std::size_t i = 0; i < n; ++i) label[i] = i;
  cluster_tree tree;
  tree.leaves = n;
  auto at = [&](std::size_t i, std::size_t j) -> double& {
    return i < j ? d[condensed_index(n, i, j)] : d[condensed_index(n, j, i)];
  };
  for (std::size_t step = 0; step + 1 < n; ++step) {
    double least = std::numeric_limits<double>::infinity();
    std::size_t x = 0;
    std::size_t y = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (size[i] == 0) continue;
      const double* row = d.data() + condensed_index(n, i, i + 1) - (i + 1);
      for (std::size_t j = i + 1; j < n; ++j) {
        if (size[j] != 0 && row[j] < least) {
          least = row[j];
          x = i;
          y = j;
        }
      }
    }
    const auto sx = static_cast<double>(size[x]);
    const auto sy = static_cast<double>(size[y]);
    for (std::size_t i = 0; i < n; ++i) {
      if (size[i] == 0 || i == x || i == y) continue;
      at(i, y) = (sx * at(i, x) + sy * at(i, y)) / (sx + sy);
    }
    tree.merges.push_back({std::min(label[x], label[y]), std::max(label[x], label[y]), least, size[x] + size[y]});
    label[y] = n + step;
    size[y] += size[x];
    size[x] = 0;
  }
  return tree;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: clustering_bench n seed [--plain] [--tree FILE]\n");
    return 2;
  }
  const auto n = static_cast<std::size_t>(std::strtoull(argv[1], nullptr, 10));
  const std::uint64_t seed = std::strtoull(argv[2], nullptr, 10);
  bool plain = false;
  const char* tree_path = nullptr;
  for (int k = 3; k < argc; ++k) {
    if (std::strcmp(argv[k], "--plain") == 0) plain = true;
    if (std::strcmp(argv[k], "--tree") == 0 && k + 1 < argc) tree_path = argv[++k];
  }
  std::vector<double> d(n * (n - 1) / 2);
  for (std::size_t k = 0; k < d.size(); ++k) d[k] = splitmix_unit(seed + k + 1);
  const std::clock_t cpu_start = std::clock();
  const auto start = std::chrono::steady_clock::now();
  const cluster_tree tree = plain ? plain_linkage(d, n) : average_linkage(d, n);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  std::printf("seconds %.3f cpu %.3f\n", took.count(), cpu);
  if (tree_path != nullptr) {
    std::FILE* out = std::fopen(tree_path, "w");
    if (out == nullptr) return 1;
    write_tree(out, tree);
    std::fclose(out);
  }
  return 0;
}
