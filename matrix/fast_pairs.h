// --fast: lagscan-matrix's values through window sums (window_sums.h), in
// O(n + h) per file and one inner product per pair, instead of O(n * s) per
// pair. The values agree with lagscan's to rounding (within 1e-12; the
// tests measure it), not to the bit.
#pragma once

#include <vector>

#include "matrix/similarity.h"

namespace lagscan::matrix {

// Every set's window sums, one row of `length` entries each, and each set's
// own sum C(X, X), the inner product of its row with itself.
struct window_sum_rows {
  std::size_t length = 0;
  std::vector<double> sums;
  std::vector<double> own;
};

// The window sums of every set (all of one count) at the window's half
// width. The sets are not needed after this: a caller may free them.
window_sum_rows make_window_sum_rows(const real_array& window, const std::vector<const real_array*>& sets,
                                     int threads);

// The rows `rows` of the table of all pairs (rows.size() x sets.size(), row
// by row), as all_pairs gives them. The pairs go by tiles of 256 x 256 files
// through the BLAS (a rank-k update for the tiles on the diagonal, a matrix
// product for the others; a blocked loop of our own where the build has no
// BLAS), each tile on one thread. A value's tile depends only on the
// positions of its two files, so it is the same whatever the threads or the
// rows asked for, and row blocks of several runs join to the whole table.
std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, bool shown);

// The values of against(), through window sums.
std::vector<double> against_fast(const real_array& window, const real_array& reference,
                                 const std::vector<const real_array*>& sets, int threads, bool shown);

// The same, counted on `meter` (started here); once it is stopped no more
// tiles or sets are taken, and the values not formed are left 0.
std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, progress_meter& meter);
std::vector<double> against_fast(const real_array& window, const real_array& reference,
                                 const std::vector<const real_array*>& sets, int threads, progress_meter& meter);

// Whether --fast goes through the BLAS in this build.
bool fast_uses_blas();

}  // namespace lagscan::matrix
