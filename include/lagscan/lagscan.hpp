// lagscan as a library: the triangle-weighted lagged cross-correlation of
// two sequences, the value the lagscan command prints for two data files,
// computed on values a program already holds.
//
// With X, Y two sequences of n values, h = (s - 1) / 2 for an odd window
// width s, and the triangular weights W[h + m] = h + 1 - |m|,
//
//   C(X, Y) = sum over m = -h..h of W[h + m] * S_m(X, Y),
//   S_m(X, Y) = sum over i (0 <= i < n, 0 <= i + m < n) of X[i] * Y[i + m],
//
// and the correlation is C(A, B) / max(sqrt|C(B, B) * C(A, A)|, 1e-100)
// (a divisor that is not a number is replaced by 1e-100 too). Every sum is
// formed in one fixed order, so a value has the same bits on every machine,
// on any number of threads, and equals the command's to the last bit.
//
//   #include <lagscan/lagscan.hpp>
//
//   std::vector<double> a = lagscan::read_values("first.xy");
//   std::vector<double> b = lagscan::read_values("second.xy");
//   double r = lagscan::correlation(a, b, 101);  // what `lagscan first.xy second.xy 101` prints
//
// Errors are C++ exceptions derived from std::exception, with the command's
// words:
//   std::invalid_argument   a bad width s, sequences of unequal lengths,
//                           a negative thread count
//   std::length_error       a sequence of 2^30 values or more ("Array too large")
//   lagscan::file_error     a data file that cannot be read (its path and reason)
//   lagscan::cancelled      a matrix whose progress function asked to stop
//   std::bad_alloc          storage exhausted
//
// Threads: every function may be called from any number of host threads at
// once; each call gives the same bits as it would alone. The library keeps
// no state a call can see: it reads no file and sets no thread count of its
// own or of the OpenMP runtime, replaces no global operator new or delete,
// and leaves no work at exit that could touch the host's objects or run
// after its teardown (its few process-wide holders have destructors that do
// nothing; its heap lives until the process ends). The matrix functions and
// correlation with a thread count run their own OpenMP team of the size
// asked for, on the calling thread and helpers.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "lagscan/export.hpp"
#include "lagscan/version.hpp"

namespace lagscan {

// The version of the library linked, "major.minor.patch" (LAGSCAN_VERSION_STRING
// of the headers it was built with).
LAGSCAN_API const char* version() noexcept;

// The value `lagscan` prints for files holding the values a and b, to the
// last bit (before it is formatted to nine digits). std::invalid_argument,
// checked in this order: s even or 0 ("s needs to be an odd number"),
// s negative ("s needs to be a positive odd number"), s above 1073741823
// ("s is too large"), a.size() != b.size() ("Number of points in files
// needs to be the same").
LAGSCAN_API double correlation(std::span<const double> a, std::span<const double> b, int s);

// The same value, the same bits, formed by a team of up to `threads` OpenMP
// threads (0: all processors) when the sequences are long enough for a
// team to pay; the call above uses the calling thread alone.
// std::invalid_argument for a negative count too, after the checks above.
LAGSCAN_API double correlation(std::span<const double> a, std::span<const double> b, int s, int threads);

// C(X, Y), the weighted lag sum itself, in the same order and with the same
// errors as correlation.
LAGSCAN_API double lag_sum(std::span<const double> x, std::span<const double> y, int s);

// The cross-correlation function of X and Y, lag by lag, from the kernels
// of lag_sum: lags[k] = m runs from -r to r, r = min(h, n - 1) (the lags
// where the sequences overlap; none when n = 0), and
//
//   sums[k]       = S_m(X, Y), each with the bits lag_sum adds for lag m
//   normalised[k] = S_m(X, Y) / max(sqrt|S_0(X, X) * S_0(Y, Y)|, 1e-100)
//
// so that adding W[h + m] * sums[k] in ascending m gives lag_sum(x, y, s)
// to the bit. best_lag is the lag of the largest normalised value; of equal
// values the smallest |m| wins, then the negative lag. Values that are not
// numbers are passed over, and best_lag is 0 when no value is a number.
// Errors as for correlation.
struct lag_profile {
  std::vector<int> lags;
  std::vector<double> sums;
  std::vector<double> normalised;
  int best_lag = 0;
};
LAGSCAN_API lag_profile profile(std::span<const double> x, std::span<const double> y, int s);

// A data file that could not be read. what() is the command's message
// without its leading blank, e.g. "Cannot open file \data\a.xy" (the command
// shows paths with every '/' as '\'), "File too large \data\a.xy",
// "Unclosed comment block" or "getcwd error"; reason() is those words
// without the path, path() the path as it was given.
class LAGSCAN_API file_error : public std::runtime_error {
 public:
  file_error(const std::filesystem::path& path, const std::string& reason, const std::string& message);
  ~file_error() override;
  const std::filesystem::path& path() const noexcept { return path_; }
  const std::string& reason() const noexcept { return reason_; }

 private:
  std::filesystem::path path_;
  std::string reason_;
};

// The y value of every x y pair of a data file, read by the command's own
// loader: comments, CR LF, any layout of the pairs across lines, a missing
// last y read as 0, the C library's atof conversion, files below
// 2^30 - 1000 bytes. Like the command, it opens the file for reading and
// writing (it never writes), so a file nobody may write is refused as
// "Cannot open file". Throws file_error, or std::bad_alloc.
LAGSCAN_API std::vector<double> read_values(const std::filesystem::path& path);

// Many sequences at once.
enum class method {
  exact,  // every entry has the bits of correlation()
  fast,   // window sums: O(n + h) per sequence, then one inner product a pair; within 1e-12 of exact
          // for sequences whose lag sum of absolute values C(|X|, |X|) is finite. The pairs of a
          // sequence outside that domain (values of about 1e150 and more, inf or nan) are formed
          // as with exact, so they have its bits.
};

struct progress_info {
  std::size_t done;   // pairs finished
  std::size_t total;  // pairs of the whole call
};
// Called on the calling thread only, several times a second while the work
// goes on (a pair, or a tile of 256 x 256 pairs with method::fast, is never
// interrupted), and once at the start and the end. Return false to cancel:
// every thread stops taking work and the call throws lagscan::cancelled. An
// exception the function throws stops the work the same way and then leaves
// the call in place of cancelled.
using progress_function = std::function<bool(const progress_info&)>;

struct matrix_options {
  method how = method::exact;
  int threads = 0;              // 0: all the machine's processors
  progress_function progress;   // may be empty
};

class LAGSCAN_API cancelled : public std::exception {
 public:
  ~cancelled() override;
  const char* what() const noexcept override;  // "cancelled"
};

// N x N row-major, entry (i, j) = correlation(sets[i], sets[j], s) (with
// method::exact, bit for bit; the matrix is symmetric, each pair formed
// once). All sets must have one length (std::invalid_argument with the
// command's "Number of points in files needs to be the same"), s as for
// correlation, threads >= 0.
LAGSCAN_API std::vector<double> all_pairs(std::span<const std::span<const double>> sets, int s,
                                          const matrix_options& options = {});

// correlation(reference, sets[j], s) for each j, the reference as A.
LAGSCAN_API std::vector<double> against(std::span<const double> reference,
                                        std::span<const std::span<const double>> sets, int s,
                                        const matrix_options& options = {});

// One tile of the all-pairs table of `files` sequences cut into `blocks`
// blocks (block b: sequences files * (b - 1) / blocks up to files * b /
// blocks), for spreading a set over machines: tile `number` (from 1, row by
// row over the block pairs R <= C, as lagscan-matrix --tile numbers them).
// `sets` holds the sequences of block R, then those of block C when C != R.
// |R| x |C| row-major: entry (x, y) for the pairs x < y, and on a diagonal
// tile the diagonal, with the bits all_pairs gives them for the whole set
// (method::fast included); the other entries 0. std::invalid_argument for a
// tile that does not exist or a count of sets that does not fit it.
LAGSCAN_API std::vector<double> tile(std::span<const std::span<const double>> sets, std::size_t files,
                                     std::size_t blocks, std::size_t number, int s,
                                     const matrix_options& options = {});

// The interactive page of a set that lagscan-matrix --report writes
// (docs/report.md): one self-contained HTML file with the heat map in the
// tree's order, the dendrogram, the groups, and any pair's signals and lag
// profile. The table is all_pairs(sets, s, options.matrix); the names are
// UTF-8, one a sequence (empty: "1", "2", ...). The page opens at K groups
// (clusters > 0) or at similarity cluster_at (when it is a number), else
// at 0.5. std::invalid_argument as for all_pairs, for a count of names or a
// cut that does not fit, or digits outside 1 .. 17; cancelled as for
// all_pairs.
struct report_options {
  std::vector<std::string> names;
  int digits = 9;
  std::size_t clusters = 0;
  double cluster_at = std::numeric_limits<double>::quiet_NaN();
  matrix_options matrix;
};
LAGSCAN_API std::string report_page(std::span<const std::span<const double>> sets, int s,
                                    const report_options& options = {});

}  // namespace lagscan
