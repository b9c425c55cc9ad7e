// --fast: lagscan-matrix's values through window sums (window_sums.h), in
// O(n + h) per file and one inner product per pair, instead of O(n * s) per
// pair. The values agree with lagscan's to rounding (within 1e-12; the
// tests measure it), not to the bit; and each has one set of bits, whatever
// the machine, its CPU, the system, the thread count or the rows and tiles a
// run holds: the inner products go through the Gram kernel of gram.h, in its
// one order, and the rest is scalar code in a fixed order.
//
// The domain of that bound: files X whose lag sum of absolute values
// C(W; |X|, |X|) is finite. It bounds every sum that either mode forms with
// X, alone or with another such file (|C(X, Y)| <= C(|X|, |Y|) <=
// sqrt(C(|X|, |X|) C(|Y|, |Y|))), so inside it no sum overflows. Outside it
// (values of about 1e150 and more, or an inf or a nan among them) the two
// ways of adding part completely: the pairs with such a file are formed by
// the exact path in --fast too, so that they print what lagscan prints.
#pragma once

#include <cstdint>
#include <functional>
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

// Window sums of the files first .. first + sums->own.size() - 1 of a set.
struct held_sums {
  const window_sum_rows* sums = nullptr;
  std::size_t first = 0;
};

// The side of the square tiles grid_pairs cuts a set of `files` files into
// for `threads` threads: 256 files, or down to 64 when that leaves too few
// tiles to share. It sets only how the work is shared, never a bit.
std::size_t grid_side(std::size_t files, int threads);

// The pairs (x, y), x < y, of a set of `files` files with x held by a and y
// by b, each handed to put(x, y, value) once, from up to `threads` threads
// at a time. The set is cut into a grid of tiles of grid_side(files,
// threads) files a side, counted from its first file; only the tiles
// (ta, tb), ta <= tb, for which wanted(ta, tb) holds are formed, each on one
// thread, through the Gram kernel. A value depends only on the window sums
// of its two files: the same bits whatever the threads and whatever rows or
// blocks a run holds. What put or the work throws is thrown here, after
// the threads have stopped. Returns the number of pairs.
std::uint64_t grid_pairs(const held_sums& a, const held_sums& b, std::size_t files, int threads,
                         progress_meter& meter, const std::function<void(std::size_t, std::size_t, double)>& put,
                         const std::function<bool(std::size_t, std::size_t)>& wanted);

// The rows `rows` of the table of all pairs (rows.size() x sets.size(), row
// by row), as all_pairs gives them, through grid_pairs: row blocks of
// several runs join to the whole table.
std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, bool shown);

// Whether each set lies outside the domain above (1) or inside it (0).
// O(n + h) a set.
std::vector<char> outside_fast_domain(const real_array& window, const std::vector<const real_array*>& sets,
                                      int threads);

// Forms anew by the exact path (all_pairs) the values that all_pairs_fast
// gave for the pairs with a set outside the domain, and for those sets'
// diagonal entries. The sets must still hold their values. The other values
// are left as they are, so the finite files' bits never depend on it.
void exact_pairs_outside_domain(const real_array& window, const std::vector<const real_array*>& sets,
                                const std::vector<char>& outside, row_range rows, std::vector<double>& values,
                                int threads);

// The values of against(), through window sums; the pairs with a set
// outside the domain (all, when the reference is) by the exact path.
std::vector<double> against_fast(const real_array& window, const real_array& reference, bool reference_outside,
                                 const std::vector<const real_array*>& sets, const std::vector<char>& outside,
                                 int threads, bool shown);

// The same, counted on `meter` (started here); once it is stopped no more
// tiles or sets are taken, and the values not formed are left 0.
std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, progress_meter& meter);
std::vector<double> against_fast(const real_array& window, const real_array& reference, bool reference_outside,
                                 const std::vector<const real_array*>& sets, const std::vector<char>& outside,
                                 int threads, progress_meter& meter);

}  // namespace lagscan::matrix
