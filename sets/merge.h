// Joining the parts of a tiled run (tiles.h) into the single run's output.
//
// The parts are checked before anything is written: every one must be a
// whole part (its size what its head makes), all must come from one run's
// settings (files and their names, blocks, values per file, S, --fast,
// --top), and each of the K (K + 1) / 2 tiles must be there exactly once.
// Then they are read as streams, block row by block row:
//  - every pair: for each file x of block R, its values from the tiles
//    (R, R), (R, R + 1), ..., (R, K) in turn, so at most K parts are open
//    and nothing is held but a row's values;
//  - --top k: for block R, the nearest of its files from the k-lists of the
//    K tiles that hold them, kept as k entries a file: memory for one
//    block's lists, not the table.
// The text is then the single run's (long form, or each file's k nearest),
// to the byte.
#pragma once

#include <string>
#include <vector>

namespace lagscan::matrix {

// Merges `parts` (paths, in any order) into output ("" for standard
// output), with `digits` significant digits. An input_error naming the part
// or the tile at fault; with an output file, nothing is left at its path
// unless the whole text is there.
void merge_parts(const std::vector<std::string>& parts, const std::string& output, int digits);

}  // namespace lagscan::matrix
