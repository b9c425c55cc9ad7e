// The files of a run: their names from the command line and the lists, and
// which of those read take part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "matrix/similarity.h"
#include "tools/lagscan-matrix/plan.h"

namespace lagscan::matrix {

// The reference (with --against), the FILEs and the listed paths, once
// checked against the outputs (none may be an input).
std::vector<std::string> input_names(const plan& p);

// The reader's message about a file (it begins with a blank), naming the
// file when the message itself does not.
std::string file_problem(const std::string& name, const std::string& problem);

// Most files' value count; of equally common counts, the one met first.
std::int32_t usual_count(const std::vector<data_file>& files);

// The files that take part: every file from `first` on that was read and
// holds `expected` values. Without keep_going any other file stops the
// run; with it, each is left out with a line on standard error.
std::vector<std::size_t> files_taking_part(const std::vector<data_file>& files, std::size_t first,
                                           std::int32_t expected, bool keep_going);

// Which files lie outside --fast's domain (fast_pairs.h): the reference's
// flag apart, then one for each file taking part. Their sums overflow, so
// their values mean nothing in either mode: each is named once on standard
// error.
struct outside_domain {
  bool reference = false;
  std::vector<char> sets;
};
outside_domain files_outside_domain(const real_array& window, const std::vector<data_file>& files,
                                    const std::vector<std::size_t>& kept, bool against, int threads);

}  // namespace lagscan::matrix
