// The tables lagscan-matrix writes: tsv (a header row of names, then one row
// per file), csv (the same with RFC 4180 quoting) and long (one pair per
// line: file, file, value, separated by tabs).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace lagscan::matrix {

enum class table_format { tsv, csv, long_form };

struct table_options {
  table_format format = table_format::tsv;
  int digits = 9;  // significant digits, as printf's %.*g
  int top = 0;     // the best K only; 0 for all
  bool header = true;  // the header row of a tsv or csv table
};

// value as the lagscan command prints it when digits is 9 ("%-.9g").
std::string value_text(double value, int digits);

// A name as a csv field: quoted (inner quotes doubled) when it holds a
// comma, a quote, CR or LF.
std::string csv_field(const std::string& name);

// The place in a block of rows (rows first, first + 1, ..., n values each)
// where row `row` begins. A table of 46,341 files or more holds more than
// 2^31 values, so no offset may pass through a 32-bit type (long is one on
// Windows).
inline std::size_t row_offset(std::size_t row, std::size_t first, std::size_t n) { return (row - first) * n; }

inline constexpr std::size_t skip_none = static_cast<std::size_t>(-1);

// The indices of values from best to worst: larger values first, NaN last,
// equal values in index order. `skip` (unless skip_none) is left out.
std::vector<std::size_t> best_first(const std::vector<double>& values, std::size_t skip);

// All pairs: values holds the rows first .. end - 1 of the square table of
// names.size() files, row by row. With top, each of those files' `top`
// nearest other files, in long form. Blocks of rows written one after the
// other (the header with the first only) give the whole table's text.
void write_all_pairs(std::FILE* out, const std::vector<std::string>& names, const std::vector<double>& values,
                     std::size_t first, std::size_t end, const table_options& options);

// One line of the long form: a, b and the value, separated by tabs.
void write_pair_line(std::FILE* out, const std::string& a, const std::string& b, double value,
                     const table_options& options);

// One reference against each file, best match first.
void write_against(std::FILE* out, const std::string& reference, const std::vector<std::string>& names,
                   const std::vector<double>& values, const table_options& options);

}  // namespace lagscan::matrix
