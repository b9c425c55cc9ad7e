// The computation of lagscan-matrix: many data files read once, each one's
// own lag sum formed once, and the pairs' values on several threads. Every
// value is the one the lagscan command prints for that pair, to the bit: the
// same loader, window, lag kernels and final division, with the first file
// of a pair as A.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "matrix/progress.h"
#include "memory/arrays.h"

namespace lagscan::matrix {

// A block of rows of the table of all pairs: rows first .. end - 1.
struct row_range {
  std::size_t first = 0;
  std::size_t end = 0;
  std::size_t size() const { return end - first; }
  bool holds(std::size_t row) const { return row >= first && row < end; }
};

// Block `block` (1 .. blocks) of `blocks` nearly equal blocks of n rows:
// rows n * (block - 1) / blocks up to n * block / blocks, exact for any n
// and blocks below 2^32.
row_range row_block(std::size_t n, std::size_t block, std::size_t blocks);

// One data file: its values, or why they could not be read.
struct data_file {
  std::string name;     // as the user gave it
  real_array values;    // the y of every x y pair
  std::string problem;  // empty when read; else the reader's message, e.g. " Cannot open file a.xy"
};

// Reads file.name into file.values with read_numbers; on a failure, the
// reader's message goes to file.problem and nothing is raised.
void load_file(data_file& file) noexcept;

// Reads every file with read_numbers on up to `threads` threads. A file
// that fails keeps its message in problem; nothing is raised.
std::vector<data_file> load_files(const std::vector<std::string>& names, int threads);

// The triangular window of odd width s (as lagscan builds it).
void make_window(real_array& window, std::int32_t s);

// The rows `rows` of the table of every pair of sets (n columns), row by
// row: entry (i, j) for i < j is lagscan's value for (sets[i], sets[j]),
// entry (j, i) the same number, and entry (i, i) each set against itself.
// Each pair is formed once; shown: a progress line counts them.
std::vector<double> all_pairs(const real_array& window, const std::vector<const real_array*>& sets,
                              row_range rows, int threads, bool shown);

// lagscan's value for (reference, sets[j]) for every j.
std::vector<double> against(const real_array& window, const real_array& reference,
                            const std::vector<const real_array*>& sets, int threads, bool shown);

// The same, counted on `meter` (started here). Once it is stopped the
// threads take no more pairs, and the values not formed are left 0.
std::vector<double> all_pairs(const real_array& window, const std::vector<const real_array*>& sets,
                              row_range rows, int threads, progress_meter& meter);
std::vector<double> against(const real_array& window, const real_array& reference,
                            const std::vector<const real_array*>& sets, int threads, progress_meter& meter);

}  // namespace lagscan::matrix
