// The heat map of a similarity table: an SVG picture with the files ordered
// so that similar patterns sit together (average-linkage clustering on
// 1 - similarity), a diverging colour scale over [-1, 1] with its legend,
// and the names on the axes. Past max_cells files per side the picture shows
// blocks of neighbouring files (in that order), each the average of its
// pairs, and says so.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lagscan::matrix {

inline constexpr std::size_t max_cells = 1000;

// The leaves of the average-linkage tree of the n x n distances, left to
// right: merging always puts the cluster that holds the smaller file index
// first. Distances must be symmetric, finite and not negative.
std::vector<std::size_t> cluster_order(const std::vector<float>& distances, std::size_t n);

// The name as drawn: at most `most` characters, the middle left out
// ("..." in its place) when it is longer; bytes outside printable ASCII
// read as "?" so that the picture is always valid XML text.
std::string short_name(const std::string& name, std::size_t most);

// Writes the picture of the n x n values of names (row by row) for window
// width s.
void write_heatmap(std::FILE* out, const std::vector<std::string>& names, const std::vector<double>& values,
                   std::int32_t s);

}  // namespace lagscan::matrix
