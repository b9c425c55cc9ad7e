// Flat groups cut from the average-linkage tree (clustering.h), each with
// its representative, and the files lagscan-matrix writes of them: the
// groups' TSV and the tree's merge list.
//
// Groups are numbered by size, largest first; of equal sizes, the group
// whose first file comes first in the files' order goes first. A group's
// representative is its medoid: the member with the highest mean similarity
// to the other members (a similarity that is not a number counting as -1,
// values outside [-1, 1] as the bound they pass, as for the distances); of
// equal means, the member that comes first; a file alone is its own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "groups/clustering.h"

namespace lagscan::matrix {

struct grouping {
  std::vector<std::size_t> group_of;        // each file's group, 0 the largest
  std::vector<std::size_t> sizes;           // of each group
  std::vector<std::size_t> representative;  // each group's medoid (a file)
  double cut = 0.0;                         // a height between the joins kept and those undone
};

// The k groups (1 <= k <= leaves) left when the k - 1 highest joins are
// undone: the last k - 1 merges of the tree's list. The medoids come from
// the n x n similarities.
grouping cut_into(const cluster_tree& tree, std::size_t k, const std::vector<double>& similarities);

// The groups of the joins at similarity t or above: a merge is kept when its
// height is at most 1 - t (as a cut of the tree at distance 1 - t).
grouping cut_at(const cluster_tree& tree, double t, const std::vector<double>& similarities);

// The groups' TSV: a header "file cluster size representative", then one
// line per file, group by group (group 1 first) and the files of a group in
// their order. Groups are numbered from 1.
void write_groups(std::FILE* out, const std::vector<std::string>& names, const grouping& groups);

// The tree's merge list, one merge a line: a, b, height, size, separated by
// tabs, the height with 17 significant digits (its bits come back when read).
void write_tree(std::FILE* out, const cluster_tree& tree);

}  // namespace lagscan::matrix
