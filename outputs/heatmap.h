// The heat map of a similarity table: an SVG picture with the files in the
// leaf order of the average-linkage tree on 1 - similarity (clustering.h),
// so that similar patterns sit together, the tree's dendrogram beside the
// rows and above the columns, a diverging colour scale over [-1, 1] with its
// legend, and the names on the axes. Past max_cells files per side the
// picture shows blocks of neighbouring files (in that order), each the
// average of its pairs, and says so; the dendrogram then ends at the blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "groups/clustering.h"
#include "groups/groups.h"

namespace lagscan::matrix {

inline constexpr std::size_t max_cells = 1000;

// The name as drawn: at most `most` characters, the middle left out
// ("..." in its place) when it is longer; bytes outside printable ASCII
// read as "?" so that the picture is always valid XML text.
std::string short_name(const std::string& name, std::size_t most);

// Writes the picture of the n x n values of names (row by row) for window
// width s, ordered and drawn by their tree. With groups (cut from that
// tree), thin lines part the groups on the map and a dashed line marks the
// cut on the dendrograms.
void write_heatmap(std::FILE* out, const std::vector<std::string>& names, const std::vector<double>& values,
                   std::int32_t s, const cluster_tree& tree, const grouping* groups);

}  // namespace lagscan::matrix
