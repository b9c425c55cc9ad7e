// lagscan-matrix as users run it: every value it prints is the one lagscan
// prints for that pair, in every form, format and thread count; bad input
// gets its message and status; the heat map draws and groups; the progress
// line shows on a terminal only.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

// --- Random sets of data files -------------------------------------------

enum class file_kind {
  plain,        // random reals of all sizes and signs
  integers,     // small whole numbers
  commented,    // comments of both kinds, CR LF line ends, pairs across lines
  odd_tokens,   // a lone x at the end: its y reads as 0
  not_a_number, // one value is nan
  all_zero,     // own sum 0: the value falls back to the 1e-100 divisor
};

std::string real_text(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// A file of `count` values of the given kind.
std::string random_file(std::mt19937_64& rng, int count, file_kind kind) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> small(-9, 9);
  std::uniform_int_distribution<int> exponent(-5, 5);
  std::string text;
  if (kind == file_kind::commented) text += "' a header line\r\n/* a block /* nested */\r\n over lines */\r\n";
  int pairs = kind == file_kind::odd_tokens ? count - 1 : count;
  for (int i = 0; i < pairs; ++i) {
    double y = 0.0;
    switch (kind) {
      case file_kind::integers: y = small(rng); break;
      case file_kind::all_zero: y = 0.0; break;
      default: y = unit(rng) * std::pow(10.0, exponent(rng));
    }
    std::string value = real_text(y);
    if (kind == file_kind::not_a_number && i == pairs / 2) value = "nan";
    std::string x = std::to_string(i);
    if (kind == file_kind::commented) {
      text += i % 3 == 0 ? x + " /* x */\r\n" + value + " ' y\r\n" : x + " " + value + "\r\n";
    } else {
      text += x + " " + value + "\n";
    }
  }
  if (kind == file_kind::odd_tokens) text += std::to_string(pairs) + "\n";
  return text;
}

struct file_set {
  const char* name;
  std::string s;
  int count;
  std::vector<file_kind> kinds;
};

void PrintTo(const file_set& set, std::ostream* os) { *os << set.name; }

class exact_values : public matrix_command, public ::testing::WithParamInterface<file_set> {
 protected:
  void SetUp() override {
    const file_set& set = GetParam();
    std::mt19937_64 rng(std::hash<std::string>{}(set.name) & 0xffffffu);
    for (std::size_t i = 0; i < set.kinds.size(); ++i) {
      std::string name = numbered_file("f", i);
      data.write(name, random_file(rng, set.count, set.kinds[i]));
      names.push_back(name);
    }
  }

  std::vector<std::string> args(std::vector<std::string> options) {
    options.push_back(GetParam().s);
    options.insert(options.end(), names.begin(), names.end());
    return options;
  }

  // lagscan's value for names[i] against names[j] as the table shows it:
  // the pair in the order of the files.
  std::string pair_value(std::size_t i, std::size_t j) {
    return i <= j ? lagscan_value(names[i], names[j], GetParam().s) : lagscan_value(names[j], names[i], GetParam().s);
  }

  std::size_t index_of(const std::string& name) {
    auto at = std::find(names.begin(), names.end(), name);
    EXPECT_NE(at, names.end()) << name;
    return static_cast<std::size_t>(at - names.begin());
  }

  void check_square_table(const std::string& out, char sep) {
    auto rows = split_lines(out, sep);
    ASSERT_EQ(rows.size(), names.size() + 1);
    std::vector<std::string> header(rows[0].begin() + 1, rows[0].end());
    EXPECT_EQ(rows[0][0], "");
    EXPECT_EQ(header, names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto& row = rows[i + 1];
      ASSERT_EQ(row.size(), names.size() + 1);
      EXPECT_EQ(row[0], names[i]);
      for (std::size_t j = 0; j < names.size(); ++j) {
        EXPECT_EQ(row[j + 1], pair_value(i, j)) << names[i] << " against " << names[j];
      }
    }
  }

  void check_long_pairs(const std::string& out) {
    auto rows = split_lines(out, '\t');
    std::set<std::pair<std::size_t, std::size_t>> seen;
    for (const auto& row : rows) {
      ASSERT_EQ(row.size(), 3u);
      std::size_t i = index_of(row[0]);
      std::size_t j = index_of(row[1]);
      EXPECT_LT(i, j) << "each pair once, in the order of the files";
      seen.insert({i, j});
      EXPECT_EQ(row[2], pair_value(i, j)) << row[0] << " against " << row[1];
    }
    EXPECT_EQ(seen.size(), names.size() * (names.size() - 1) / 2);
    EXPECT_EQ(rows.size(), seen.size());
  }

  // The reference is the last file; the rows come best first.
  void check_against(const std::string& out, char sep, bool long_form) {
    const std::string& reference = names.back();
    auto rows = split_lines(out, sep);
    if (!long_form) {
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(rows[0], (std::vector<std::string>{"file", reference}));
      rows.erase(rows.begin());
    }
    ASSERT_EQ(rows.size(), names.size());
    std::set<std::string> seen;
    double previous = INFINITY;
    for (const auto& row : rows) {
      if (long_form) {
        ASSERT_EQ(row.size(), 3u);
        EXPECT_EQ(row[0], reference);
      }
      ASSERT_GE(row.size(), 2u);
      const std::string& name = row[row.size() - 2];
      const std::string& value = row.back();
      seen.insert(name);
      EXPECT_EQ(value, lagscan_value(reference, name, GetParam().s)) << reference << " against " << name;
      double v = std::strtod(value.c_str(), nullptr);
      if (std::isnan(previous)) {
        EXPECT_TRUE(std::isnan(v)) << "not-a-number values come last";
      } else if (!std::isnan(v)) {
        EXPECT_LE(v, previous) << "best match first";
      }
      previous = v;
    }
    EXPECT_EQ(seen.size(), names.size());
  }

  // Standard error of a run: each file holding a nan named once, the
  // reference (with --against) first.
  std::string warnings(const std::string& reference = "") const {
    std::string text;
    std::vector<std::string> named;
    auto name_once = [&](const std::string& name) {
      if (std::find(named.begin(), named.end(), name) != named.end()) return;
      named.push_back(name);
      text += domain_warning(name);
    };
    const auto& kinds = GetParam().kinds;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (kinds[i] == file_kind::not_a_number && names[i] == reference) name_once(names[i]);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (kinds[i] == file_kind::not_a_number) name_once(names[i]);
    }
    return text;
  }

  std::vector<std::string> names;
};

TEST_P(exact_values, all_pairs_match_lagscan_in_every_format_and_thread_count) {
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    process_result tsv = matrix(args({"--threads", threads}));
    EXPECT_EQ(tsv.status, 0) << tsv.err;
    EXPECT_EQ(tsv.err, warnings());
    check_square_table(tsv.out, '\t');
    process_result csv = matrix(args({"--threads", threads, "--format", "csv"}));
    EXPECT_EQ(csv.status, 0);
    check_square_table(csv.out, ',');
    process_result pairs = matrix(args({"--threads", threads, "--format", "long"}));
    EXPECT_EQ(pairs.status, 0);
    check_long_pairs(pairs.out);
  }
}

TEST_P(exact_values, one_against_many_matches_lagscan_in_every_format_and_thread_count) {
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    for (auto [format, sep, long_form] : {std::tuple{"tsv", '\t', false}, std::tuple{"csv", ',', false},
                                          std::tuple{"long", '\t', true}}) {
      SCOPED_TRACE(format);
      process_result r = matrix(args({"--threads", threads, "--format", format, "--against", names.back()}));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, warnings(names.back()));
      check_against(r.out, sep, long_form);
    }
  }
}

// 17 digits give the value's bits back, and those bits round to lagscan's
// nine digits; they are the same whatever the number of threads.
TEST_P(exact_values, seventeen_digits_round_trip_to_the_same_bits_on_any_thread_count) {
  process_result one = matrix(args({"--threads", "1", "--digits", "17", "--format", "long"}));
  ASSERT_EQ(one.status, 0);
  for (const char* threads : {"2", "3"}) {
    EXPECT_EQ(matrix(args({"--threads", threads, "--digits", "17", "--format", "long"})).out, one.out) << threads;
  }
  for (const auto& row : split_lines(one.out, '\t')) {
    ASSERT_EQ(row.size(), 3u);
    double v = std::strtod(row[2].c_str(), nullptr);
    char nine[64];
    auto end = std::to_chars(nine, nine + sizeof nine, v, std::chars_format::general, 9).ptr;
    EXPECT_EQ(std::string(nine, end), lagscan_value(row[0], row[1], GetParam().s)) << row[0] << " " << row[1];
  }
}

INSTANTIATE_TEST_SUITE_P(
    random_sets, exact_values,
    ::testing::Values(
        file_set{"five_files_of_37_s_7", "7", 37,
                 {file_kind::plain, file_kind::commented, file_kind::not_a_number, file_kind::all_zero,
                  file_kind::odd_tokens}},
        file_set{"window_wider_than_the_data", "11", 5,
                 {file_kind::integers, file_kind::plain, file_kind::odd_tokens, file_kind::integers}},
        file_set{"one_value_each", "1", 1, {file_kind::plain, file_kind::all_zero, file_kind::integers}},
        file_set{"long_files_many_lags", "301", 1000,
                 {file_kind::plain, file_kind::plain, file_kind::commented, file_kind::integers, file_kind::all_zero,
                  file_kind::odd_tokens, file_kind::plain}}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Options that shape the output ----------------------------------------

class matrix_output : public matrix_command {
 protected:
  void SetUp() override {
    data.write("up.xy", "1 1\n2 2\n3 3\n");
    data.write("down.xy", "1 3\n2 2\n3 1\n");
    data.write("flat.xy", "1 1\n2 1\n3 1\n");
    data.write("four.xy", "1 1\n2 2\n3 3\n4 4\n");
  }
};

TEST_F(matrix_output, worked_example_as_a_tsv_table) {
  process_result r = matrix({"3", "up.xy", "down.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\tup.xy\tdown.xy\nup.xy\t1\t0.818181818\ndown.xy\t0.818181818\t1\n");
}

TEST_F(matrix_output, csv_quotes_names_as_rfc_4180_asks) {
  data.write("a,b.xy", "1 1\n2 2\n3 3\n");
  std::vector<std::string> args = {"--format", "csv", "3", "a,b.xy", "down.xy"};
  std::string expected = ",\"a,b.xy\",down.xy\n\"a,b.xy\",1,0.818181818\ndown.xy,0.818181818,1\n";
#ifndef _WIN32
  data.write("say \"x\".xy", "1 3\n2 2\n3 1\n");
  args.back() = "say \"x\".xy";
  expected = ",\"a,b.xy\",\"say \"\"x\"\".xy\"\n\"a,b.xy\",1,0.818181818\n\"say \"\"x\"\".xy\",0.818181818,1\n";
#endif
  process_result r = matrix(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
}

TEST_F(matrix_output, top_keeps_the_best_matches) {
  process_result against = matrix({"--against", "up.xy", "--top", "2", "3", "down.xy", "flat.xy", "up.xy"});
  EXPECT_EQ(against.status, 0);
  EXPECT_EQ(against.out, "file\tup.xy\nup.xy\t1\nflat.xy\t0.953462589\n");
  process_result nearest = matrix({"--top", "1", "3", "up.xy", "down.xy", "flat.xy"});
  EXPECT_EQ(nearest.status, 0);
  EXPECT_EQ(nearest.out,
            "up.xy\tflat.xy\t0.953462589\ndown.xy\tflat.xy\t0.953462589\nflat.xy\tup.xy\t0.953462589\n");
}

TEST_F(matrix_output, files_from_a_list_and_from_standard_input) {
  data.write("list.txt", "down.xy\r\n\nflat.xy\n");
  process_result listed = matrix({"--files-from", "list.txt", "3", "up.xy"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, matrix({"3", "up.xy", "down.xy", "flat.xy"}).out);
#ifndef _WIN32
  std::string list = (data.path() / "list.txt").string();
  process_result piped = matrix({"--files-from", "-", "3", "up.xy"}, [list] {
    int fd = ::open(list.c_str(), O_RDONLY);
    if (fd < 0 || ::dup2(fd, 0) < 0) ::_exit(125);
  });
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, listed.out);
#endif
}

TEST_F(matrix_output, output_file_holds_what_standard_output_would) {
  process_result r = matrix({"-o", "table.tsv", "3", "up.xy", "down.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(with_lf_line_ends(read_file(data.path() / "table.tsv")), matrix({"3", "up.xy", "down.xy"}).out);
}

TEST_F(matrix_output, help_and_version_go_to_standard_output_with_status_0) {
  process_result help = matrix({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: lagscan-matrix"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("--against"), std::string::npos);
  EXPECT_NE(help.out.find("within 1e-12"), std::string::npos) << "--fast states its accuracy";
  EXPECT_NE(help.out.find("--rows I/K"), std::string::npos);
  EXPECT_EQ(help.err, "");
  process_result version = matrix({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("lagscan-matrix ") + LAGSCAN_VERSION + "\n");
}

// More threads than the library counted (a thread-count file of 1, and more
// threads than cores) read their files with scratch of their own.
TEST_F(matrix_output, more_threads_than_the_thread_count_file_allows) {
  data.write("maxnumthreads.txt", "1\n");
  std::vector<std::string> args = {"--format", "long", "3"};
  for (int i = 0; i < 200; ++i) {
    std::string name = numbered_file("g", i);
    data.write(name, "1 " + std::to_string(i % 7) + "\n2 1.5e-3\n3 x" + std::to_string(i) + "\n");
    args.push_back(name);
  }
  process_result one = matrix([&] {
    auto a = args;
    a.insert(a.begin(), {"--threads", "1"});
    return a;
  }());
  ASSERT_EQ(one.status, 0) << one.err;
  for (const char* threads : {"2", "4"}) {
    auto a = args;
    a.insert(a.begin(), {"--threads", threads});
    process_result r = matrix(a);
    EXPECT_EQ(r.status, 0) << threads;
    EXPECT_EQ(r.err.substr(0, 200), "") << threads;
    EXPECT_TRUE(r.out == one.out) << threads << " threads print other values";
  }
}

// --- Bad input -------------------------------------------------------------

struct failure_row {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string err;  // exactly
  std::string out = "";
};

void PrintTo(const failure_row& row, std::ostream* os) { *os << row.name; }

class bad_input : public matrix_output, public ::testing::WithParamInterface<failure_row> {};

TEST_P(bad_input, gets_its_message_and_status) {
  data.write("open.xy", "1 2\n/* never closed\n");
  data.write("empty.txt", "");
  process_result r = matrix(GetParam().args);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_EQ(r.out, GetParam().out);
}

const std::string counts_differ = "lagscan-matrix: Number of points in files needs to be the same\n";

INSTANTIATE_TEST_SUITE_P(
    cases, bad_input,
    ::testing::Values(
        failure_row{"missing_file", {"3", "up.xy", "missing.xy"}, 1, "lagscan-matrix: Cannot open file missing.xy\n"},
        failure_row{"missing_files_all_named",
                    {"3", "nope.xy", "up.xy", "sub/gone.xy"},
                    1,
                    "lagscan-matrix: Cannot open file nope.xy\nlagscan-matrix: Cannot open file sub\\gone.xy\n"},
        failure_row{"unclosed_comment_names_its_file",
                    {"3", "up.xy", "open.xy"},
                    1,
                    "lagscan-matrix: open.xy: Unclosed comment block\n"},
        failure_row{"counts_differ", {"3", "up.xy", "four.xy", "down.xy"}, 1,
                    counts_differ + "lagscan-matrix: four.xy has 4 values, not 3\n"},
        failure_row{"counts_differ_from_the_reference",
                    {"--against", "four.xy", "3", "up.xy", "four.xy", "down.xy"},
                    1,
                    counts_differ + "lagscan-matrix: up.xy has 3 values, not 4\nlagscan-matrix: down.xy has 3 values, not 4\n"},
        failure_row{"keep_going_leaves_out_what_differs",
                    {"--keep-going", "3", "up.xy", "four.xy", "missing.xy", "down.xy"},
                    0,
                    "lagscan-matrix: leaving out missing.xy (Cannot open file missing.xy)\n"
                    "lagscan-matrix: leaving out four.xy (4 values, not 3)\n",
                    "\tup.xy\tdown.xy\nup.xy\t1\t0.818181818\ndown.xy\t0.818181818\t1\n"},
        failure_row{"keep_going_with_a_comment_never_closed",
                    {"--keep-going", "--format", "long", "3", "open.xy", "up.xy", "down.xy"},
                    0,
                    "lagscan-matrix: leaving out open.xy (open.xy: Unclosed comment block)\n",
                    "up.xy\tdown.xy\t0.818181818\n"},
        failure_row{"keep_going_cannot_leave_out_the_reference",
                    {"--keep-going", "--against", "missing.xy", "3", "up.xy"},
                    1,
                    "lagscan-matrix: Cannot open file missing.xy\n"},
        failure_row{"keep_going_with_nothing_left",
                    {"--keep-going", "3", "missing.xy"},
                    1,
                    "lagscan-matrix: leaving out missing.xy (Cannot open file missing.xy)\n"
                    "lagscan-matrix: no files left to compare\n"},
        failure_row{"even_s", {"4", "up.xy"}, 2, "lagscan-matrix: s needs to be an odd number\n"},
        failure_row{"s_not_a_number", {"abc", "up.xy"}, 2, "lagscan-matrix: s needs to be an odd number\n"},
        failure_row{"negative_s", {"-3", "up.xy"}, 2, "lagscan-matrix: s needs to be a positive odd number\n"},
        failure_row{"s_too_large", {"1073741825", "up.xy"}, 2, "lagscan-matrix: s is too large\n"},
        failure_row{"bad_s_before_missing_files", {"2", "missing.xy"}, 2, "lagscan-matrix: s needs to be an odd number\n"},
        failure_row{"no_files", {"3"}, 2, "lagscan-matrix: no data files given\n"},
        failure_row{"empty_list", {"--files-from", "empty.txt", "3"}, 2, "lagscan-matrix: no data files given\n"},
        failure_row{"against_without_files", {"--against", "up.xy", "3"}, 2, "lagscan-matrix: no data files given\n"},
        failure_row{"missing_list", {"--files-from", "nolist.txt", "3", "up.xy"}, 1,
                    "lagscan-matrix: Cannot open file nolist.txt\n"},
        failure_row{"unknown_option", {"--bogus", "3", "up.xy"}, 2,
                    "lagscan-matrix: The following argument was not expected: --bogus\n"
                    "Run with --help for more information.\n"},
        failure_row{"no_arguments", {}, 2,
                    "lagscan-matrix: S is required\nRun with --help for more information.\n"},
        failure_row{"digits_out_of_range", {"--digits", "18", "3", "up.xy"}, 2,
                    "lagscan-matrix: --digits: Value 18 not in range 1 to 17\nRun with --help for more information.\n"},
        failure_row{"unknown_format", {"--format", "xml", "3", "up.xy"}, 2,
                    "lagscan-matrix: --format: xml not in {tsv,csv,long}\nRun with --help for more information.\n"},
        failure_row{"top_of_all_pairs_in_a_square_table", {"--top", "2", "--format", "tsv", "3", "up.xy"}, 2,
                    "lagscan-matrix: --top for all pairs lists each file's nearest in --format long\n"},
        failure_row{"rows_block_zero", {"--rows", "0/3", "3", "up.xy"}, 2,
                    "lagscan-matrix: --rows 0/3: give I/K, block I of K, with 1 <= I <= K\n"},
        failure_row{"rows_block_beyond_the_count", {"--rows", "4/3", "3", "up.xy"}, 2,
                    "lagscan-matrix: --rows 4/3: give I/K, block I of K, with 1 <= I <= K\n"},
        failure_row{"rows_not_a_fraction", {"--rows", "2", "3", "up.xy"}, 2,
                    "lagscan-matrix: --rows 2: give I/K, block I of K, with 1 <= I <= K\n"},
        failure_row{"rows_with_a_sign", {"--rows", "+1/2", "3", "up.xy"}, 2,
                    "lagscan-matrix: --rows +1/2: give I/K, block I of K, with 1 <= I <= K\n"},
        failure_row{"rows_with_against", {"--rows", "1/2", "--against", "up.xy", "3", "up.xy"}, 2,
                    "lagscan-matrix: --rows splits the table of all pairs; it does not go with --against\n"},
        failure_row{"rows_with_heatmap", {"--rows", "1/2", "--heatmap", "m.svg", "3", "up.xy"}, 2,
                    "lagscan-matrix: --heatmap draws the whole table; it does not go with --rows\n"},
        failure_row{"heatmap_with_against", {"--heatmap", "m.svg", "--against", "up.xy", "3", "up.xy"}, 2,
                    "lagscan-matrix: --heatmap draws all pairs; it does not go with --against\n"},
        failure_row{"clusters_with_against", {"--clusters", "2", "--against", "up.xy", "3", "down.xy"}, 2,
                    "lagscan-matrix: --clusters clusters all pairs; it does not go with --against\n"},
        failure_row{"tree_with_rows", {"--tree-out", "t.txt", "--rows", "1/2", "3", "up.xy", "down.xy"}, 2,
                    "lagscan-matrix: --tree-out needs the whole table; it does not go with --rows\n"},
        failure_row{"clusters_and_cluster_at", {"--clusters", "2", "--cluster-at", "0.5", "3", "up.xy"}, 2,
                    "lagscan-matrix: --clusters and --cluster-at cut the tree in two ways: give one\n"},
        failure_row{"clusters_out_without_a_cut", {"--clusters-out", "g.tsv", "3", "up.xy"}, 2,
                    "lagscan-matrix: --clusters-out writes groups: give --clusters K or --cluster-at T\n"},
        failure_row{"cluster_at_past_one", {"--cluster-at", "1.5", "3", "up.xy"}, 2,
                    "lagscan-matrix: --cluster-at: give a similarity from -1 to 1\n"},
        failure_row{"cluster_at_not_a_number", {"--cluster-at", "nan", "3", "up.xy"}, 2,
                    "lagscan-matrix: --cluster-at: give a similarity from -1 to 1\n"},
        failure_row{"more_groups_than_files", {"--clusters", "3", "3", "up.xy", "down.xy"}, 2,
                    "lagscan-matrix: --clusters 3: there are only 2 files\n"},
        failure_row{"clusters_zero", {"--clusters", "0", "3", "up.xy"}, 2,
                    "lagscan-matrix: --clusters: Value 0 not in range 1 to 1073741824\n"
                    "Run with --help for more information.\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(matrix_output, read_only_file_is_refused_as_lagscan_refuses_it) {
  std::string path = data.write("locked.xy", "1 1\n2 2\n3 3\n");
  make_read_only(path);
  process_result r = matrix({"3", "up.xy", "locked.xy"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lagscan-matrix: Cannot open file locked.xy\n");
}

TEST_F(matrix_output, failed_run_leaves_no_output_file) {
  process_result r = matrix({"-o", "table.tsv", "--heatmap", "m.svg", "3", "up.xy", "four.xy"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(data.path() / "table.tsv"));
  EXPECT_FALSE(fs::exists(data.path() / "m.svg"));
  process_result unwritable = matrix({"-o", "no/such/dir/table.tsv", "3", "up.xy"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err, "lagscan-matrix: cannot write no/such/dir/table.tsv\n");
}

}  // namespace
}  // namespace lagscan::testing
