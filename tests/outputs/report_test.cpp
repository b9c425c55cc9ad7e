// The report page's writer (outputs/report.h): names that cannot break out
// of the page's data, the arrays' encoding, each file's nearest in the
// tables' order, the budget's switch from whole tables to summaries.
#include "outputs/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "groups/clustering.h"

namespace lagscan::testing {
namespace {

using matrix::base64;
using matrix::json_text;
using matrix::nearest_of;

struct json_row {
  const char* name;
  std::string given;
  std::string written;
};

void PrintTo(const json_row& row, std::ostream* os) { *os << row.name; }

class json_names : public ::testing::TestWithParam<json_row> {};

// A file named "</script><script>alert(1)</script>.xy" must not end the
// page's data element and run as script: <, > and & never appear raw.
TEST_P(json_names, are_escaped_so_that_no_name_ends_the_script_element) {
  EXPECT_EQ(json_text(GetParam().given), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    cases, json_names,
    ::testing::Values(
        json_row{"plain", "a/b.xy", "\"a/b.xy\""},
        json_row{"script_end", "</script><b>x", "\"\\u003c/script\\u003e\\u003cb\\u003ex\""},
        json_row{"comment_start", "<!--x", "\"\\u003c!--x\""},
        json_row{"ampersand", "a&amp;b", "\"a\\u0026amp;b\""},
        json_row{"quotes_and_backslash", "a\"b'c\\d", "\"a\\\"b'c\\\\d\""},
        json_row{"control_characters", std::string("a\tb\nc\x01\x7f\0", 8), "\"a\\u0009b\\u000ac\\u0001\\u007f\\u0000\""},
        json_row{"non_ascii_kept", "caf\xc3\xa9 \xe6\xb8\xac\xf0\x9f\x93\x88", "\"caf\xc3\xa9 \xe6\xb8\xac\xf0\x9f\x93\x88\""},
        // Bytes that are not UTF-8: a lone continuation, a cut sequence, an
        // overlong slash, a surrogate.
        json_row{"lone_continuation", "a\x80z", "\"a\\ufffdz\""},
        json_row{"cut_sequence_at_end", "a\xe6\xb8", "\"a\\ufffd\\ufffd\""},
        json_row{"overlong_slash", "a\xc0\xafz", "\"a\\ufffd\\ufffdz\""},
        json_row{"surrogate", "a\xed\xa0\x80z", "\"a\\ufffd\\ufffd\\ufffdz\""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(report_arrays, are_standard_base64_with_padding) {
  const auto text = [](const std::string& bytes) {
    return base64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(text(""), "");
  EXPECT_EQ(text("f"), "Zg==");
  EXPECT_EQ(text("fo"), "Zm8=");
  EXPECT_EQ(text("foo"), "Zm9v");
  EXPECT_EQ(text("foob"), "Zm9vYg==");
  EXPECT_EQ(text(std::string("\xff\xfe\x00", 3)), "//4A");
}

// The nearest must come in the order the tables list them (larger first,
// NaN last, equal values by index), never include the file itself, and pad
// with -1 when there are fewer other files than asked for.
TEST(report_nearest, follow_the_tables_order_without_the_file_itself) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Row 0: file 3 and file 1 tie, file 2 is NaN.
  const std::vector<double> table = {
      1.0, 0.5, nan, 0.5,   //
      0.5, 1.0, 0.9, -0.2,  //
      nan, 0.9, 1.0, 0.1,   //
      0.5, -0.2, 0.1, 1.0,
  };
  EXPECT_EQ(nearest_of(table, 4, 3, 2), (std::vector<std::int32_t>{1, 3, 2, 2, 0, 3, 1, 3, 0, 0, 2, 1}));
  EXPECT_EQ(nearest_of(table, 4, 2, 1), (std::vector<std::int32_t>{1, 3, 2, 0, 1, 3, 0, 2}));
  EXPECT_EQ(nearest_of({1.0}, 1, 0, 1), (std::vector<std::int32_t>{}));
  EXPECT_EQ(nearest_of({1.0, 0.3, 0.3, 1.0}, 2, 1, 1), (std::vector<std::int32_t>{1, 0}));
}

// A page's data as the writer makes it, for n files of `count` values.
std::string page_of(std::size_t n, std::size_t count, std::vector<double>& table, std::vector<std::vector<double>>& signals,
                    matrix::cluster_tree& tree) {
  table.assign(n * n, 0.0);
  signals.assign(n, std::vector<double>(count, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < count; ++k) signals[i][k] = std::sin(static_cast<double>(i + k));
    for (std::size_t j = 0; j < n; ++j) table[i * n + j] = i == j ? 1.0 : 1.0 / static_cast<double>(1 + i + j);
  }
  std::vector<double> distances = matrix::condensed_distances(table, n);
  tree = matrix::average_linkage(distances, n);
  matrix::report_input input;
  input.s = 3;
  for (std::size_t i = 0; i < n; ++i) {
    std::string name = "f";  // appended: GCC 12 at -O3 warns wrongly of "text" + a string
    name += std::to_string(i);
    input.names.push_back(name);
    input.signals.emplace_back(signals[i]);
  }
  input.table = &table;
  input.tree = &tree;
  return matrix::report_page(input, 2);
}

TEST(report_budget, holds_the_whole_table_and_signals_of_a_small_set_only) {
  std::vector<double> table;
  std::vector<std::vector<double>> signals;
  matrix::cluster_tree tree;
  const std::string small = page_of(matrix::exact_table_files, 8, table, signals, tree);
  EXPECT_NE(small.find("\"table\":{\"kind\":\"exact\""), std::string::npos);
  EXPECT_NE(small.find("\"signals\":{\"kind\":\"exact\""), std::string::npos);
  EXPECT_EQ(small.find("\"nearest\":{"), std::string::npos);

  const std::size_t n = matrix::exact_table_files + 1;
  const std::size_t count = matrix::exact_signal_values / n + 1;
  const std::string large = page_of(n, count, table, signals, tree);
  EXPECT_NE(large.find("\"table\":{\"kind\":\"blocks\",\"block\":3,\"side\":334,"), std::string::npos);
  EXPECT_NE(large.find("\"nearest\":{\"k\":10,"), std::string::npos);
  EXPECT_NE(large.find("\"signals\":{\"kind\":\"envelope\",\"width\":3,"), std::string::npos);
  // The budget is what keeps a large page small: whole, the table and the
  // signals would be about 16.5 MB of base64 here.
  EXPECT_LT(large.size(), 6'000'000u);
}

// The page and its script are those of outputs/report/, whole.
TEST(report_page, carries_its_style_and_script_and_loads_nothing) {
  std::vector<double> table;
  std::vector<std::vector<double>> signals;
  matrix::cluster_tree tree;
  const std::string page = page_of(3, 4, table, signals, tree);
  for (const char* placeholder : {"@style@", "@script@", "@data@", "@version@"}) {
    EXPECT_EQ(page.find(placeholder), std::string::npos) << placeholder;
  }
  EXPECT_NE(page.find("<meta name=\"generator\" content=\"lagscan-matrix " LAGSCAN_VERSION "\">"), std::string::npos);
  EXPECT_NE(page.find("window.lagscanReport = api;"), std::string::npos);
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
  for (const char* fetches : {"src=\"http", "href=\"http", "<link", "<script src", "import("}) {
    EXPECT_EQ(page.find(fetches), std::string::npos) << fetches;
  }
}

}  // namespace
}  // namespace lagscan::testing
