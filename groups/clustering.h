// The average-linkage tree of a set, on the distances 1 - similarity: the
// one tree behind the heat map's order, the groups and --tree-out.
//
// Types:
//   condensed distances  d(i, j) for i < j, row by row, the upper triangle
//                        without its diagonal: n(n-1)/2 values, d(i, j) at
//                        condensed_index(n, i, j)
//   merge                one join: clusters a < b, the distance between them
//                        (height), the leaves below it (size)
//   cluster_tree         n leaves (0 .. n-1, the files in their order) and
//                        n - 1 merges; merge k forms cluster n + k
//
// Invariants of a cluster_tree (tree_fault() re-checks them):
//   merges[k].a < merges[k].b < n + k, and each cluster below n + k is
//   joined once;  merges[k].size = size(a) + size(b), leaves of size 1;
//   heights never decrease from one merge to the next, and no join is lower
//   than the joins below it.
//
// The distance between two clusters is the mean of the distances between
// their members. It is formed as average linkage's update rule has it: when
// x and y join, the new cluster's distance to each other cluster i is
//
//   (size(x) * d(x, i) + size(y) * d(y, i)) / (size(x) + size(y)),
//
// in that order of operations, in doubles.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lagscan::matrix {

// Where d(i, j), i < j < n, sits among the condensed distances.
inline std::size_t condensed_index(std::size_t n, std::size_t i, std::size_t j) {
  return n * i - i * (i + 1) / 2 + (j - i - 1);
}

// 1 - similarity, within [0, 2]. A similarity that is not a number (a file
// holding nan) counts as the least similar possible, -1: distance 2, as far
// as anything can be, so such files join the rest last.
double distance_of(double similarity);

// The condensed distances of the n x n table of similarities (row by row),
// from its upper triangle.
std::vector<double> condensed_distances(const std::vector<double>& similarities, std::size_t n);

struct merge {
  std::size_t a = 0;
  std::size_t b = 0;
  double height = 0.0;
  std::size_t size = 0;
};

struct cluster_tree {
  std::size_t leaves = 0;
  std::vector<merge> merges;
};

// The average-linkage tree of n items from their condensed distances
// (finite and not negative), by the nearest-neighbour chain in O(n^2) time.
// The distances are the working storage: they are overwritten, so no copy is
// made.
//
// Ties are broken so that the result depends on nothing but the distances:
// a chain starts at the lowest-numbered cluster still open (a cluster is
// numbered by the larger of the two numbers of its parts, a file by its
// place); a cluster's nearest neighbour is the chain's previous cluster when
// that one is among the nearest, otherwise the lowest-numbered of the
// nearest. The joins are then listed by height, equal heights in the order
// they were made, and numbered n, n + 1, ... in that order. Average linkage
// never joins below the joins it builds on; should rounding put a height a
// unit under a part's, it is raised to that part's.
cluster_tree average_linkage(std::vector<double>& distances, std::size_t n);

// The leaves from left to right when each merge draws a on the left of b:
// the order of the heat map. Every group cut from the tree is a run of it.
std::vector<std::size_t> leaf_order(const cluster_tree& tree);

// What is wrong with the tree, or "" when its invariants hold.
std::string tree_fault(const cluster_tree& tree);

}  // namespace lagscan::matrix
