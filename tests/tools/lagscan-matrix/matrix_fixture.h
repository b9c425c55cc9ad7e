// The fixture of the lagscan-matrix tests: the program and lagscan run as
// children in a data directory; lagscan's own output for a pair is the
// reference every value is checked against.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan::testing {

// The lines of a text (its last line end dropped), each split at sep.
inline std::vector<std::vector<std::string>> split_lines(const std::string& text, char sep) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t at; (at = line.find(sep, start)) != std::string::npos; start = at + 1) {
      fields.push_back(line.substr(start, at - start));
    }
    fields.push_back(line.substr(start));
    rows.push_back(fields);
  }
  return rows;
}

// A data file's name: stem, number, ".xy". Built by appending: GCC 12 at
// -O3 warns (-Wrestrict, wrongly) inside libstdc++ about "text" + a string.
template <typename Number>
std::string numbered_file(const char* stem, Number k) {
  std::string name = stem;
  name += std::to_string(k);
  name += ".xy";
  return name;
}

// The warning that names a file outside --fast's domain (values too large
// for the lag sums, or an inf or a nan among them), in both modes.
inline std::string domain_warning(const std::string& name) {
  std::string text = "lagscan-matrix: warning: ";
  text += name;
  text += ": its values are too large for the lag sums (or hold inf or nan); its results carry no meaning\n";
  return text;
}

class matrix_command : public ::testing::Test {
 protected:
  // Runs program in the data directory; on Windows both outputs are text
  // streams, read back with LF line ends.
  process_result run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::function<void()>& in_child = {}) {
    process_result r = run_process(program, args, data.path(), in_child);
#ifdef _WIN32
    r.out = with_lf_line_ends(r.out);
    r.err = with_lf_line_ends(r.err);
#endif
    return r;
  }

  process_result matrix(const std::vector<std::string>& args, const std::function<void()>& in_child = {}) {
    return run_program(LAGSCAN_MATRIX_EXE, args, in_child);
  }

  // What lagscan prints for the pair (a, b) at width s: the value's text.
  std::string lagscan_value(const std::string& a, const std::string& b, const std::string& s) {
    auto key = std::make_tuple(a, b, s);
    auto known = lagscan_values.find(key);
    if (known != lagscan_values.end()) return known->second;
    process_result r = run_program(LAGSCAN_EXE, {a, b, s});
    const std::string prefix = "\nCross Correlation ";
    EXPECT_EQ(r.out.rfind(prefix, 0), 0u) << "lagscan " << a << " " << b << " " << s << ": status " << r.status
                                        << ", out " << r.out << ", err " << r.err;
    std::string value = r.out.substr(std::min(prefix.size(), r.out.size()));
    if (!value.empty() && value.back() == '\n') value.pop_back();
    lagscan_values[key] = value;
    return value;
  }

  temp_dir data;
  std::map<std::tuple<std::string, std::string, std::string>, std::string> lagscan_values;
};

}  // namespace lagscan::testing
