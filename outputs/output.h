// One thing lagscan-matrix writes from a run's values: the table, the
// groups, the tree, the heat map, and whatever comes next. The run opens
// every output before it reads a file, hands each the values when they are
// made, and gives them their names only when all have been written (the
// last first), so that a run either gives every output whole or leaves
// things as they were (output_file.h).
//
// A new output is a class of this kind in a file of its own here, its maker
// declared below, and one line in the command's plan that makes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "groups/clustering.h"
#include "groups/groups.h"
#include "matrix/similarity.h"
#include "outputs/output_file.h"
#include "outputs/table.h"

namespace lagscan::matrix {

// What the outputs are made from.
struct pair_values {
  const std::vector<std::string>& names;  // the files taking part
  // All pairs: rows rows.first .. rows.end - 1 of their square table, row by
  // row. --against: one value a file, in the files' order.
  const std::vector<double>& values;
  const std::string& reference;  // --against's file; empty for all pairs
  row_range rows;
  std::int32_t s = 1;  // the window width
  table_options table;
  const cluster_tree* tree = nullptr;  // made once some output needs it
  const grouping* groups = nullptr;    // with --clusters or --cluster-at
  // The values correlated, one array a file taking part (centred with
  // --center), and --against's reference: for outputs that show them.
  const std::vector<const real_array*>* signals = nullptr;
  const real_array* reference_values = nullptr;
  // How the values were made and the tree cut, for outputs that say so:
  // into `clusters` groups, or at similarity cluster_at when cut_at.
  bool fast = false;
  bool center = false;
  int threads = 1;  // what an output may compute on
  int clusters = 0;
  bool cut_at = false;
  double cluster_at = 0.0;
};

class output {
 public:
  // When it is written. A table goes first, before the tree is made, so one
  // that cannot be written stops the run before the clustering; a picture
  // of the table, the tree and the groups goes last.
  enum class stage { before_tree, from_tree, last };

  // Opens the temporary file for path ("" for standard output).
  explicit output(const std::string& path) : file_(path) {}
  virtual ~output() = default;
  output(const output&) = delete;
  output& operator=(const output&) = delete;

  virtual stage when() const = 0;
  // Writes it whole; an output_error when it cannot.
  void write(const pair_values& values) {
    write_to(file_.get(), values);
    file_.finish();
  }
  void commit() { file_.commit(); }

 protected:
  virtual void write_to(std::FILE* out, const pair_values& values) = 0;

 private:
  output_file file_;
};

using output_maker = std::unique_ptr<output> (*)(const std::string& path);

std::unique_ptr<output> table_output(const std::string& path);    // the table, or --against's list
std::unique_ptr<output> groups_output(const std::string& path);   // the groups as TSV
std::unique_ptr<output> tree_output(const std::string& path);     // the tree, as scipy lays it out
std::unique_ptr<output> heatmap_output(const std::string& path);  // the SVG heat map
std::unique_ptr<output> report_output(const std::string& path);   // the report page of all pairs
std::unique_ptr<output> ranked_report_output(const std::string& path);  // the report page of --against

}  // namespace lagscan::matrix
