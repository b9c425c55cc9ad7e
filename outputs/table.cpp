#include "outputs/table.h"

#include <algorithm>
#include <cmath>

#include "platform/format.h"

namespace lagscan::matrix {
namespace {

// What separates fields and quotes names in a format.
char separator_of(table_format format) { return format == table_format::csv ? ',' : '\t'; }

std::string field(const std::string& name, table_format format) {
  return format == table_format::csv ? csv_field(name) : name;
}

void write_line(std::FILE* out, std::string& line) {
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out);
  line.clear();
}

}  // namespace

void write_pair_line(std::FILE* out, const std::string& a, const std::string& b, double value,
                     const table_options& options) {
  std::string line = a + '\t' + b + '\t' + value_text(value, options.digits);
  write_line(out, line);
}

std::string value_text(double value, int digits) {
  // The platform's bounded formatting is what lagscan's own output goes
  // through, so exponents and NaNs read alike on every system.
  char text[64];
  platform::format_bounded(text, sizeof text, "%-.*g", digits, value);
  return text;
}

std::string csv_field(const std::string& name) {
  if (name.find_first_of(",\"\r\n") == std::string::npos) return name;
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::vector<std::size_t> best_first(const std::vector<double>& values, std::size_t skip) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != skip) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&values](std::size_t a, std::size_t b) {
    double x = values[a];
    double y = values[b];
    if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
    return x > y;
  });
  return order;
}

void write_all_pairs(std::FILE* out, const std::vector<std::string>& names, const std::vector<double>& values,
                     std::size_t first, std::size_t end, const table_options& options) {
  const std::size_t n = names.size();
  auto row_of = [&](std::size_t i) { return values.data() + row_offset(i, first, n); };
  if (options.top > 0) {
    // Each file's nearest others; the row of file i is its values.
    for (std::size_t i = first; i < end; ++i) {
      std::vector<double> row(row_of(i), row_of(i) + n);
      std::vector<std::size_t> order = best_first(row, i);
      if (order.size() > static_cast<std::size_t>(options.top)) order.resize(static_cast<std::size_t>(options.top));
      for (std::size_t j : order) write_pair_line(out, names[i], names[j], row[j], options);
    }
    return;
  }
  if (options.format == table_format::long_form) {
    for (std::size_t i = first; i < end; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) write_pair_line(out, names[i], names[j], row_of(i)[j], options);
    }
    return;
  }
  const char separator = separator_of(options.format);
  std::string line;
  if (options.header) {
    for (const std::string& name : names) line += separator + field(name, options.format);
    write_line(out, line);
  }
  for (std::size_t i = first; i < end; ++i) {
    line = field(names[i], options.format);
    for (std::size_t j = 0; j < n; ++j) line += separator + value_text(row_of(i)[j], options.digits);
    write_line(out, line);
  }
}

void write_against(std::FILE* out, const std::string& reference, const std::vector<std::string>& names,
                   const std::vector<double>& values, const table_options& options) {
  std::vector<std::size_t> order = best_first(values, skip_none);
  if (options.top > 0 && order.size() > static_cast<std::size_t>(options.top)) {
    order.resize(static_cast<std::size_t>(options.top));
  }
  if (options.format == table_format::long_form) {
    for (std::size_t j : order) write_pair_line(out, reference, names[j], values[j], options);
    return;
  }
  const char separator = separator_of(options.format);
  std::string line = "file" + std::string(1, separator) + field(reference, options.format);
  write_line(out, line);
  for (std::size_t j : order) {
    line = field(names[j], options.format) + separator + value_text(values[j], options.digits);
    write_line(out, line);
  }
}

}  // namespace lagscan::matrix
