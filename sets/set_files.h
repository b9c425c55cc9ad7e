// What lagscan-matrix writes of sets beyond one run: a tile's part (the
// layout in tiles.h) and a packed set's two files (packed_set.h). They are
// written through output_file, as every output of the program is, so they
// are the program's alone: the public library computes tiles and reads
// packed sets, but writes neither.
#pragma once

#include <string>
#include <vector>

#include "outputs/output_file.h"
#include "sets/packed_set.h"
#include "sets/tiles.h"

namespace lagscan::matrix {

// Computes the tile of `names` (every file of the run) from `files`, the
// files of tile_files() in that order, all of one count, and writes its part
// to `part` (a binary output_file, opened before the work), committing it.
// With --fast the files' values are let go once their window sums are
// formed. An output_error when it cannot be written.
void write_tile(output_file& part, const tile_job& job, const std::vector<std::string>& names,
                std::vector<data_file>& files);

// Writes the packed set of `files` (all of one count) to `set` and its
// names to `list` (binary output_files of SET.npy and SET.names, both opened
// before the work), and commits both once both are whole, so that a failed
// run leaves both as they were. An input_error for a name holding a line
// end, an output_error for what could not be written.
void write_packed_set(output_file& set, output_file& list, const std::vector<std::string>& names,
                      const std::vector<const real_array*>& files);

}  // namespace lagscan::matrix
