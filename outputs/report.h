// The report: one self-contained HTML page of a run, which opens offline
// from file:// and explores the set (docs/report.md). The page's script,
// style and layout are the files of outputs/report/, built into the program;
// this writer adds the run's data as one JSON object inside the page.
//
// What the page holds, by size (its budget):
//
//   the table       all of it (the upper triangle with the diagonal, doubles)
//                   while n <= exact_table_files; beyond, the means of blocks
//                   of ceil(n / block_sides) neighbours in the tree's order
//                   (floats), and each file's nearest_files nearest exactly
//   the signals     every value (doubles) while n * count <= exact_signal_values;
//                   beyond, each file's least and greatest value over runs of
//                   `width` samples, envelope_values floats in all at most
//   the tree        its n - 1 joins (two int32 and one double each) and the
//                   leaf order (int32)
//
// Arrays are base64 of their little-endian bytes. Names go in as JSON
// strings with <, > and & escaped, so no name can end the script element;
// bytes that are not UTF-8 become U+FFFD. The page inserts every name as
// text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "groups/clustering.h"
#include "groups/groups.h"

namespace lagscan::matrix {

inline constexpr std::size_t exact_table_files = 1000;
inline constexpr std::size_t block_sides = 500;
inline constexpr std::size_t nearest_files = 10;
inline constexpr std::size_t exact_signal_values = std::size_t{1} << 20;
inline constexpr std::size_t envelope_values = std::size_t{1} << 20;

// How the run cut its tree, if it did: the page opens at that cut.
struct report_cut {
  enum class kind { none, clusters, threshold } how = kind::none;
  double value = 0.0;  // K or T
};

struct report_input {
  std::int32_t s = 1;
  int digits = 9;
  bool fast = false;
  bool center = false;
  std::vector<std::string> names;              // the files, in the run's order
  std::vector<std::span<const double>> signals;  // each file's values as correlated, all of one count
  // All pairs: the n x n table row by row, its tree, and the run's groups
  // (cut from that tree; nullptr when the run made none).
  const std::vector<double>* table = nullptr;
  const cluster_tree* tree = nullptr;
  const grouping* groups = nullptr;
  report_cut cut;
  // One reference against each file (table and tree unused): its name,
  // values and the value with each file.
  bool against = false;
  std::string reference_name;
  std::span<const double> reference;
  const std::vector<double>* against_values = nullptr;
};

// Where the page goes, piece by piece.
class report_sink {
 public:
  virtual ~report_sink() = default;
  virtual void write(std::string_view text) = 0;
};

// Writes the page, on up to `threads` threads for its summaries. Throws
// std::bad_alloc; a failed write to a file shows in its error flag, as for
// the other outputs.
void write_report(report_sink& out, const report_input& input, int threads);
void write_report(std::FILE* out, const report_input& input, int threads);
// The page as one string.
std::string report_page(const report_input& input, int threads);

// A name as a JSON string (with its quotes), safe inside a script element.
std::string json_text(const std::string& name);

// Standard base64 of bytes.
std::string base64(const unsigned char* bytes, std::size_t size);

// Each file's `most` nearest other files in the n x n table: row i's
// indices from best to worst (the order of best_first: larger values first,
// NaN last, equal values by index), padded with -1 where n - 1 < most.
std::vector<std::int32_t> nearest_of(const std::vector<double>& table, std::size_t n, std::size_t most, int threads);

}  // namespace lagscan::matrix
