// What a run of lagscan-matrix is to do, made from the options and checked:
// the inputs, the computation, and the outputs to make. It is made without
// touching a file (the run reads the lists and the files), so each
// combination of options can be tried on its own.
//
// A new output is one line in make_plan() (plan.cpp) that adds its maker
// (outputs/output.h); a new option is declared in options.cpp and, where it
// does not go with another, gets a rule in plan.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "outputs/output.h"
#include "outputs/table.h"
#include "sets/tiles.h"
#include "tools/lagscan-matrix/options.h"

namespace lagscan::matrix {

enum class computation { all_pairs, against, tile, pack };

// "I/K": block row I of K of the table of all pairs.
struct row_block_choice {
  std::size_t block = 1;
  std::size_t blocks = 1;
};

struct planned_output {
  std::string path;  // "" for standard output
  output_maker make;
};

struct plan {
  computation work = computation::all_pairs;
  std::int32_t s = 1;  // the window width; pack takes none
  // The inputs: --against's file, the FILEs, and a list of further paths
  // that the run reads.
  std::string reference;
  std::vector<std::string> files;
  std::string files_from;
  bool keep_going = false;
  bool center = false;
  bool fast = false;
  bool quiet = false;
  bool keep_values = false;  // an output shows the files' values: --fast keeps them
  int threads = 0;  // 0: the library's thread count
  row_block_choice block;
  tile_choice tile;
  int top = 0;
  table_options table;
  // The cut of the tree: into `clusters` groups, or at similarity
  // cluster_at when cut_at.
  int clusters = 0;
  bool cut_at = false;
  double cluster_at = 0.0;
  std::string target;  // -o: the table, or the part or packed set that tile and pack write
  // Every file the run writes, as (option, path), to be kept apart from
  // the inputs.
  std::vector<std::pair<std::string, std::string>> written;
  // In the order they are opened.
  std::vector<planned_output> outputs;

  bool grouped() const { return clusters > 0 || cut_at; }
};

// The plan of options, or a failure with status_usage naming the first
// thing wrong with them.
plan make_plan(const settings& options);

}  // namespace lagscan::matrix
