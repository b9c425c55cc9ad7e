// Tiles of the table of all pairs, for runs spread over many tasks that each
// read only some of the files.
//
// The N files are cut into K blocks of consecutive files (block b holds the
// rows of --rows b/K). Tile (R, C), R <= C, holds the pairs of a file of
// block R and a later file of block C; the K (K + 1) / 2 tiles hold every
// pair once. They are numbered row by row from 1, so that tile T of K is
// what job array task T computes:
//
//   T:   1      2      ...  K      K+1    ...  2K-1   ...  K(K+1)/2
//   R,C: 1,1    1,2    ...  1,K    2,2    ...  2,K    ...  K,K
//
// A tile task reads the files of its two blocks alone and writes a part;
// merge_parts (merge.h) joins the K (K + 1) / 2 parts into the single run's
// output. A pair's value is the same bits in a tile as in one run, --fast
// included (grid_pairs).
//
// A part, every number a little-endian 64-bit word:
//   "LGSPART1", then files, blocks, R, C, values per file, S, fast (0/1),
//   top (0: every pair), the names' hash (names_hash), the names' bytes;
//   the names of block R, then of block C when C != R, each as its length
//   and its bytes;
//   with top 0: for each file x of R in order, the values of (x, y) for the
//   files y of C after x, in order;
//   with top k: for each file x of R, its k nearest files of C (other than
//   x) as (position, value) from nearest, padded with (2^64 - 1, 0); then,
//   when C != R, for each file y of C its k nearest files of R the same way.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "matrix/similarity.h"

namespace lagscan::matrix {

// A part's first bytes, and the position that pads a list of nearest.
inline constexpr char part_magic[] = "LGSPART1";
inline constexpr std::size_t part_magic_size = 8;
inline constexpr std::uint64_t no_file = ~std::uint64_t{0};

// The words of a part's head after its magic, in their order.
struct part_fields {
  std::uint64_t files = 0, blocks = 0, row_block = 0, column_block = 0, count = 0, s = 0, fast = 0, top = 0,
                hash = 0, names_bytes = 0;
};
inline constexpr std::size_t part_field_count = 10;

struct tile_choice {
  std::size_t number = 1;  // T, from 1
  std::size_t blocks = 1;  // K
  std::size_t row_block = 1;
  std::size_t column_block = 1;
};

// K (K + 1) / 2.
std::size_t tile_count(std::size_t blocks);

// Tile T of K; false unless 1 <= T <= K (K + 1) / 2.
bool tile_of(std::size_t number, std::size_t blocks, tile_choice& tile);

// The number of tile (R, C) of K, R <= C.
std::size_t tile_number(std::size_t row_block, std::size_t column_block, std::size_t blocks);

// "T/K" as tile T of K; false when the text is not that.
bool parse_tile(const std::string& text, tile_choice& tile);

// The positions of the files a tile needs: block R's, then block C's when
// it is another.
std::vector<std::size_t> tile_files(std::size_t files, const tile_choice& tile);

// Whether (a, ia) comes before (b, ib) in a file's list of nearest: the
// larger value first, NaN last, equal values by position, as the single
// run's --top orders them.
inline bool nearer(double a, std::uint64_t ia, double b, std::uint64_t ib) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan != b_nan) return b_nan;
  if (!a_nan && a != b) return a > b;
  return ia < ib;
}

// A hash of the list of every file's name (FNV-1a over the names, each
// ended by a zero byte), so that parts of different lists do not merge.
std::uint64_t names_hash(const std::vector<std::string>& names);

// A tile's values: entry (x, y) at (x - rows.first) * columns.size() +
// (y - columns.first), for the pairs x < y of the tile (the rest unused).
struct tile_values {
  row_range rows;
  row_range columns;
  std::vector<double> values;
  double at(std::size_t x, std::size_t y) const { return values[(x - rows.first) * columns.size() + y - columns.first]; }
};

// What a tile run computes and how.
struct tile_job {
  tile_choice tile;
  std::int32_t s = 1;  // window width
  bool fast = false;
  int top = 0;
  int threads = 1;
  bool shown = false;  // a progress line
  // With --fast, 1 for each file of tile_files() outside the domain of the
  // window sums (outside_fast_domain): its pairs go by the exact path, as in
  // one run. Empty: none.
  std::vector<char> outside;
};

// The values of a tile of a set of `files` files from `held`, the files of
// tile_files() in that order, all of one count; with --fast their values
// are let go once their window sums are formed (unless some lie outside
// the domain).
tile_values compute_tile(const tile_job& job, std::size_t files, std::vector<data_file>& held);

// Computes the tile of `names` (every file of the run) from `files`, the
// files of tile_files() in that order, all of one count, and writes its part
// to path (whole or not at all). With --fast the files' values are let go
// once their window sums are formed. An input_error when it cannot be
// written.
void write_tile(const std::string& path, const tile_job& job, const std::vector<std::string>& names,
                std::vector<data_file>& files);

}  // namespace lagscan::matrix
