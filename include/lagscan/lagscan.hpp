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
//                           a thread count below 0 or above max_threads,
//                           a bad number of groups, cut or table
//   std::length_error       a sequence of 2^30 values or more ("Array too large")
//   lagscan::file_error     a data file that cannot be read (its path and reason)
//   lagscan::cancelled      a matrix whose progress function asked to stop
//   std::bad_alloc          storage exhausted
//
// Names across the faces (docs/library.md has the whole table): C++
// read_values is Python's read_xy, profile is lag_profile, all_pairs is
// lagscan.matrix, and the rest keep one name in both.
//
// Threads: every function may be called from any number of host threads at
// once; each call gives the same bits as it would alone. The library keeps
// no state a call can see: it reads no file and sets no thread count of its
// own or of the OpenMP runtime, replaces no global operator new or delete,
// and leaves no work at exit that could touch the host's objects or run
// after its teardown (its few process-wide holders have destructors that do
// nothing; its heap lives until the process ends). The functions on sets
// and correlation with a thread count run their own OpenMP team of the size
// asked for (see below), on the calling thread and helpers.
//
// Thread counts: 0 means every processor of the machine; a count above the
// processors is taken as their number (more threads than processors only
// wait on each other); counts below 0 or above max_threads are refused.
#pragma once

// std::span, concepts and the rest need C++20; without it the first error
// would be an obscure one deep in the declarations below, which are left out
// so that this is the only one.
#if !defined(__cplusplus) || (__cplusplus < 202002L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 202002L))
#error "<lagscan/lagscan.hpp> needs C++20 or later: compile with -std=c++20 (CMake's lagscan::lagscan target asks for it by itself)"
#else

#include <concepts>
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

// The interface passes std::string, std::filesystem::path and exceptions
// holding them, whose layout libstdc++'s old ABI changes: such a program
// would link against names the library does not have. Refused here, with the
// reason, instead of as undefined symbols.
#if defined(__GLIBCXX__) && defined(_GLIBCXX_USE_CXX11_ABI) && !_GLIBCXX_USE_CXX11_ABI
#error "<lagscan/lagscan.hpp>: liblagscan is built with libstdc++'s C++11 ABI; compile without -D_GLIBCXX_USE_CXX11_ABI=0"
#else

// Every name lives in the inline namespace v0, which a program never writes
// (lagscan::correlation is lagscan::v0::correlation): an interface that
// changes incompatibly gets the next one, and programs built against either
// link to the right one, or fail to link rather than run wrong.
namespace lagscan {
inline namespace v0 {

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

// The largest thread count a call takes, as lagscan-matrix --threads.
inline constexpr int max_threads = 1024;

// The same value, the same bits, formed by a team of up to `threads` OpenMP
// threads (0: all processors) when the sequences are long enough for a
// team to pay; the call above uses the calling thread alone, which is the
// better choice on a machine that other work keeps busy (a team waits for
// its slowest member). std::invalid_argument for a count outside
// 0 .. max_threads too, after the checks above.
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

// The same y values, and each pair's x into `x` (replacing what it held),
// converted as the y are; a missing last y is read as 0, so x and the y
// have one length.
LAGSCAN_API std::vector<double> read_values(const std::filesystem::path& path, std::vector<double>& x);

// Many sequences at once.
enum class method {
  exact,  // every entry has the bits of correlation()
  fast,   // window sums: O(n + h) per sequence, then one inner product a pair; within 1e-12 of exact
          // for sequences whose lag sum of absolute values C(|X|, |X|) is finite. The pairs of a
          // sequence outside that domain (values of about 1e150 and more, inf or nan) are formed
          // as with exact, so they have its bits. The inner products go through the library's
          // own kernel in one fixed order (no BLAS): the same bits on every machine, CPU,
          // system and thread count, in tiles as in one call, whatever the host process loaded.
};

struct progress_info {
  std::size_t done;   // pairs finished
  std::size_t total;  // pairs of the whole call
};
// Called on the calling thread only, several times a second while the work
// goes on (a pair, or a tile of up to 256 x 256 pairs with method::fast, is never
// interrupted), and once at the start and the end. Return false to cancel:
// every thread stops taking work and the call throws lagscan::cancelled. An
// exception the function throws stops the work the same way and then leaves
// the call in place of cancelled.
using progress_function = std::function<bool(const progress_info&)>;

struct matrix_options {
  method how = method::exact;
  int threads = 0;              // 0: all the machine's processors; at most max_threads
  progress_function progress;   // may be empty
  // Each sequence's mean taken off before any sum, as lagscan-matrix
  // --center does, to the bit: sets on different baselines (offsets of 10^3
  // make every value about 1) compare by their shapes. The library centres
  // copies; the host's values stay as they are.
  bool center = false;
};

class LAGSCAN_API cancelled : public std::exception {
 public:
  ~cancelled() override;
  const char* what() const noexcept override;  // "cancelled"
};

// The sets of a call: spans over the host's sequences. Each function on
// sets also takes a std::vector<std::vector<double>> (sequence_vectors),
// through the overloads at the end of this header.
using sequences = std::span<const std::span<const double>>;
using sequence_vectors = std::vector<std::vector<double>>;

// N x N row-major, entry (i, j) = correlation(sets[i], sets[j], s) (with
// method::exact, bit for bit; the matrix is symmetric, each pair formed
// once). All sets must have one length (std::invalid_argument with the
// command's "Number of points in files needs to be the same"), s as for
// correlation, threads as above.
LAGSCAN_API std::vector<double> all_pairs(sequences sets, int s, const matrix_options& options = {});

// Set A against set B: |A| x |B| row-major, entry (i, j) the value that
// all_pairs of A followed by B gives the pair (a[i], b[j]), to the bit,
// method::fast included (a[i] is the pair's first sequence). Every sequence
// of both sets has one length.
LAGSCAN_API std::vector<double> all_pairs(sequences a, sequences b, int s, const matrix_options& options = {});

// correlation(reference, sets[j], s) for each j, the reference as A.
LAGSCAN_API std::vector<double> against(std::span<const double> reference, sequences sets, int s,
                                        const matrix_options& options = {});

// What a condensed table holds.
enum class measure {
  similarity,  // all_pairs' entries
  distance,    // 1 - similarity, bounded to [0, 2] (a similarity that is not a number counts as -1, distance
               // 2), the distances lagscan-matrix clusters on
};

// The upper triangle of all_pairs without its diagonal, row by row: the
// N (N - 1) / 2 entries (i, j), i < j, in the order of scipy's pdist and
// squareform, (i, j) at N i - i (i + 1) / 2 + j - i - 1. Each entry has
// all_pairs' bits (or their distance); half the storage of the table, and
// never the whole table at once.
LAGSCAN_API std::vector<double> condensed(sequences sets, int s, measure kind = measure::similarity,
                                          const matrix_options& options = {});

// Each sequence's `top` nearest others, as lagscan-matrix --top lists them:
// larger values first, values that are not numbers last, equal values by
// position. N x top row-major; a row with fewer than `top` others is padded
// with position no_item and a quiet NaN.
inline constexpr std::size_t no_item = static_cast<std::size_t>(-1);
struct neighbours {
  std::size_t top = 0;
  std::vector<std::size_t> positions;
  std::vector<double> values;  // all_pairs' bits for each listed pair
};
// The table is never formed: the storage is N x top a thread, besides the
// inputs (and their window sums with method::fast), whatever N.
// std::invalid_argument for top = 0.
LAGSCAN_API neighbours nearest(sequences sets, int s, std::size_t top, const matrix_options& options = {});

// An N x N table of similarities, row-major, such as all_pairs gives, for
// the calls that start from one (only its upper triangle is read, as
// lagscan-matrix reads its table).
struct similarity_table {
  std::span<const double> values;
  std::size_t n = 0;
};

// The average-linkage tree on the distances 1 - similarity, in scipy's
// layout (scipy.cluster.hierarchy's Z): N - 1 rows of four, row k joining
// clusters a < b at height h into cluster N + k of `size` leaves; a
// leaf's number is its position. The same tree as lagscan-matrix
// --tree-out writes, row for row. From the sequences, the table is formed
// as condensed distances only.
LAGSCAN_API std::vector<double> linkage(sequences sets, int s, const matrix_options& options = {});
LAGSCAN_API std::vector<double> linkage(similarity_table table);

// Flat groups cut from that tree, as lagscan-matrix --clusters-out writes
// them: labels[i] is item i's group, numbered from 1 by size (the largest
// first, of equal sizes the one whose first item comes first); medoids[g]
// is group g + 1's representative, the member of highest mean similarity to
// the others (of equal means the first).
struct grouping {
  std::vector<std::size_t> labels;
  std::vector<std::size_t> sizes;
  std::vector<std::size_t> medoids;
};
// k groups, 1 <= k <= N (else std::invalid_argument).
LAGSCAN_API grouping groups(similarity_table table, std::size_t k);
LAGSCAN_API grouping groups(sequences sets, int s, std::size_t k, const matrix_options& options = {});
// The groups of the joins at similarity `at` or above, -1 <= at <= 1
// (else std::invalid_argument), as --cluster-at.
LAGSCAN_API grouping groups_at(similarity_table table, double at);
LAGSCAN_API grouping groups_at(sequences sets, int s, double at, const matrix_options& options = {});

// The distances for a tool that takes a precomputed N x N table (such as
// scikit-learn's metric="precomputed"): 1 - similarity bounded as
// measure::distance has it, the diagonal 0, symmetric from the upper
// triangle.
LAGSCAN_API std::vector<double> precomputed(similarity_table table);

// One tile of the all-pairs table of `files` sequences cut into `blocks`
// blocks (block b: sequences files * (b - 1) / blocks up to files * b /
// blocks), for spreading a set over machines: tile `number` (from 1, row by
// row over the block pairs R <= C, as lagscan-matrix --tile numbers them).
// `sets` holds the sequences of block R, then those of block C when C != R.
// |R| x |C| row-major: entry (x, y) for the pairs x < y, and on a diagonal
// tile the diagonal, with the bits all_pairs gives them for the whole set
// (method::fast included); the other entries 0. std::invalid_argument for a
// tile that does not exist or a count of sets that does not fit it.
// blocks is at most max_blocks.
inline constexpr std::size_t max_blocks = std::size_t{1} << 20;
LAGSCAN_API std::vector<double> tile(sequences sets, std::size_t files, std::size_t blocks, std::size_t number,
                                     int s, const matrix_options& options = {});

// The shape of that tile, |R| rows and |C| columns, for the same arguments;
// std::invalid_argument for a tile that does not exist.
struct tile_size {
  std::size_t rows = 0;
  std::size_t columns = 0;
};
LAGSCAN_API tile_size tile_shape(std::size_t files, std::size_t blocks, std::size_t number);

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
LAGSCAN_API std::string report_page(sequences sets, int s, const report_options& options = {});

// The functions on sets for a vector of vectors: each views the vectors as
// spans (on the host's side) and calls the function above. Templates, so
// that a braced list such as all_pairs({}, 3) still means the spans.
namespace detail {
template <class T>
concept vectors_of_values = std::same_as<T, sequence_vectors>;

inline std::vector<std::span<const double>> spans_of(const sequence_vectors& sets) {
  return std::vector<std::span<const double>>(sets.begin(), sets.end());
}
}  // namespace detail

template <detail::vectors_of_values V>
std::vector<double> all_pairs(const V& sets, int s, const matrix_options& options = {}) {
  return all_pairs(sequences(detail::spans_of(sets)), s, options);
}
template <detail::vectors_of_values V>
std::vector<double> all_pairs(const V& a, const V& b, int s, const matrix_options& options = {}) {
  return all_pairs(sequences(detail::spans_of(a)), sequences(detail::spans_of(b)), s, options);
}
template <detail::vectors_of_values V>
std::vector<double> against(std::span<const double> reference, const V& sets, int s,
                            const matrix_options& options = {}) {
  return against(reference, sequences(detail::spans_of(sets)), s, options);
}
template <detail::vectors_of_values V>
std::vector<double> condensed(const V& sets, int s, measure kind = measure::similarity,
                              const matrix_options& options = {}) {
  return condensed(sequences(detail::spans_of(sets)), s, kind, options);
}
template <detail::vectors_of_values V>
neighbours nearest(const V& sets, int s, std::size_t top, const matrix_options& options = {}) {
  return nearest(sequences(detail::spans_of(sets)), s, top, options);
}
template <detail::vectors_of_values V>
std::vector<double> linkage(const V& sets, int s, const matrix_options& options = {}) {
  return linkage(sequences(detail::spans_of(sets)), s, options);
}
template <detail::vectors_of_values V>
grouping groups(const V& sets, int s, std::size_t k, const matrix_options& options = {}) {
  return groups(sequences(detail::spans_of(sets)), s, k, options);
}
template <detail::vectors_of_values V>
grouping groups_at(const V& sets, int s, double at, const matrix_options& options = {}) {
  return groups_at(sequences(detail::spans_of(sets)), s, at, options);
}
template <detail::vectors_of_values V>
std::vector<double> tile(const V& sets, std::size_t files, std::size_t blocks, std::size_t number, int s,
                         const matrix_options& options = {}) {
  return tile(sequences(detail::spans_of(sets)), files, blocks, number, s, options);
}

}  // namespace v0
}  // namespace lagscan

#endif  // the C++11 ABI
#endif  // C++20
