// lagscan-matrix --fast: every value within 1e-12 of lagscan's, on data that
// strains the window sums and the inner products; the same output on any
// thread count; and --rows blocks that join to the whole table, in both modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

// The bound --help and the README promise.
constexpr double promised_error = 1e-12;

std::string file_of(const std::vector<double>& values) {
  std::string text;
  char line[64];
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(line, sizeof line, "%zu %.17g\n", i, values[i]);
    text += line;
  }
  return text;
}

// Families of files, each made of the same random stream.
enum class family {
  mixed,          // reals of all sizes and signs, small integers, an all-zero file
  offset_heavy,   // mean 10^6 times the spread, some with the opposite sign
  anti_related,   // pairs of a wave and its negative, with noise
};

std::vector<std::vector<double>> make_family(family kind, int files, int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-4, 4);
  std::vector<std::vector<double>> sets(static_cast<std::size_t>(files), std::vector<double>(static_cast<std::size_t>(n)));
  for (int f = 0; f < files; ++f) {
    auto& v = sets[static_cast<std::size_t>(f)];
    for (int i = 0; i < n; ++i) {
      double& y = v[static_cast<std::size_t>(i)];
      switch (kind) {
        case family::mixed:
          y = f == 0 ? 0.0 : f % 3 == 1 ? std::round(9 * unit(rng)) : unit(rng) * std::pow(10.0, exponent(rng));
          break;
        case family::offset_heavy:
          y = (f % 4 == 3 ? -1.0 : 1.0) * 1e6 + unit(rng) + (f == 1 ? 0.0 : 0.3 * std::sin(0.01 * i * (f + 1)));
          break;
        case family::anti_related:
          y = (f % 2 ? -1.0 : 1.0) * std::sin(0.05 * i + f / 2) + 0.1 * unit(rng);
          break;
      }
    }
  }
  if (kind == family::offset_heavy && files > 2) {
    std::fill(sets.back().begin(), sets.back().end(), 0.0);  // an all-zero file among them
  }
  return sets;
}

struct accuracy_case {
  const char* name;
  family kind;
  int files;
  int n;
  std::string s;
};

void PrintTo(const accuracy_case& c, std::ostream* os) { *os << c.name; }

class fast_accuracy : public matrix_command, public ::testing::WithParamInterface<accuracy_case> {
 protected:
  void SetUp() override {
    const accuracy_case& c = GetParam();
    std::mt19937_64 rng(std::hash<std::string>{}(c.name) & 0xffffffu);
    auto sets = make_family(c.kind, c.files, c.n, rng);
    for (std::size_t i = 0; i < sets.size(); ++i) {
      names.push_back(numbered_file("f", i));
      data.write(names.back(), file_of(sets[i]));
    }
  }

  std::vector<std::string> args(std::vector<std::string> options) {
    options.insert(options.end(), {"--digits", "17", "--format", "long", GetParam().s});
    options.insert(options.end(), names.begin(), names.end());
    return options;
  }

  // (file, file) -> value of a long table.
  static std::map<std::pair<std::string, std::string>, double> pairs_of(const process_result& r) {
    std::map<std::pair<std::string, std::string>, double> pairs;
    for (const auto& row : split_lines(r.out, '\t')) {
      if (row.size() == 3) pairs[{row[0], row[1]}] = std::strtod(row[2].c_str(), nullptr);
    }
    return pairs;
  }

  // The largest difference between the two runs' values, each pair checked.
  static double worst_difference(const process_result& exact, const process_result& fast) {
    EXPECT_EQ(exact.status, 0) << exact.err;
    EXPECT_EQ(fast.status, 0) << fast.err;
    EXPECT_EQ(fast.err, "");
    auto want = pairs_of(exact);
    auto got = pairs_of(fast);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_FALSE(want.empty());
    double worst = 0.0;
    for (const auto& [pair, value] : want) {
      auto at = got.find(pair);
      if (at == got.end()) {
        ADD_FAILURE() << "no value for " << pair.first << " " << pair.second;
        continue;
      }
      double difference = std::fabs(at->second - value);
      EXPECT_LE(difference, promised_error) << pair.first << " " << pair.second << ": " << at->second
                                            << " against lagscan's " << value;
      EXPECT_FALSE(std::isnan(at->second)) << pair.first << " " << pair.second;
      worst = std::max(worst, difference);
    }
    return worst;
  }

  std::vector<std::string> names;
};

TEST_P(fast_accuracy, every_value_within_the_promised_error_in_both_forms) {
  double pairs = worst_difference(matrix(args({})), matrix(args({"--fast"})));
  std::vector<std::string> against = {"--against", names[1]};
  double one_to_many = worst_difference(matrix(args(against)), matrix(args({"--fast", "--against", names[1]})));
  RecordProperty("worst_all_pairs", std::to_string(pairs));
  RecordProperty("worst_against", std::to_string(one_to_many));
  std::printf("%s: worst difference %.3g (all pairs), %.3g (--against)\n", GetParam().name, pairs, one_to_many);
}

INSTANTIATE_TEST_SUITE_P(
    table, fast_accuracy,
    ::testing::Values(accuracy_case{"random_sets", family::mixed, 7, 500, "21"},
                      accuracy_case{"random_sets_wide_window", family::mixed, 7, 500, "1001"},
                      accuracy_case{"offset_heavy", family::offset_heavy, 6, 3000, "101"},
                      accuracy_case{"offset_heavy_window_wider_than_the_data", family::offset_heavy, 5, 200, "1001"},
                      accuracy_case{"offset_heavy_a_million_values", family::offset_heavy, 3, 1000000, "5"},
                      accuracy_case{"anti_correlated", family::anti_related, 6, 2000, "51"},
                      accuracy_case{"half_width_one_less_than_n", family::anti_related, 4, 50, "99"},
                      accuracy_case{"half_width_n", family::mixed, 4, 50, "101"},
                      accuracy_case{"window_far_wider_than_the_data", family::anti_related, 4, 30, "100001"},
                      accuracy_case{"one_value_each", family::mixed, 4, 1, "7"}),
    [](const auto& row) { return std::string(row.param.name); });

// Each tile of pairs goes to one thread, whole: the output's bytes do not
// depend on the number of threads.
TEST_F(matrix_command, fast_output_is_the_same_on_any_thread_count) {
  std::mt19937_64 rng(5);
  std::vector<std::string> args = {"--fast", "--digits", "17", "--format", "long", "31"};
  auto sets = make_family(family::offset_heavy, 300, 64, rng);
  for (std::size_t i = 0; i < sets.size(); ++i) {
    args.push_back(numbered_file("g", i));
    data.write(args.back(), file_of(sets[i]));
  }
  auto with_threads = [&](const char* threads) {
    auto a = args;
    a.insert(a.begin(), {"--threads", threads});
    return a;
  };
  process_result one = matrix(with_threads("1"));
  ASSERT_EQ(one.status, 0) << one.err;
  for (const char* threads : {"2", "3"}) {
    process_result r = matrix(with_threads(threads));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == one.out) << threads << " threads print other values";
  }
}

// --- Outside the bound's domain --------------------------------------------------

// A file whose sums overflow, or that holds an inf or a nan, among ordinary
// ones: --fast forms its pairs the exact way (so they print what lagscan
// prints, where window sums would give other numbers or nan), both modes name
// it in a warning, and the other files' values keep their --fast bits.
struct outside_case {
  const char* name;
  double scale;         // of the odd file's values
  double special;       // put in the middle of the odd file unless 0
  std::string s;
};

void PrintTo(const outside_case& c, std::ostream* os) { *os << c.name; }

class fast_outside_domain : public matrix_command, public ::testing::WithParamInterface<outside_case> {
 protected:
  static constexpr std::size_t odd_place = 2;

  void SetUp() override {
    std::mt19937_64 rng(std::hash<std::string>{}(GetParam().name) & 0xffffffu);
    auto sets = make_family(family::mixed, 6, 40, rng);
    for (std::size_t i = 0; i < sets.size(); ++i) {
      names.push_back(numbered_file("f", i));
      data.write(names.back(), file_of(sets[i]));
    }
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> odd(40);
    for (double& y : odd) y = GetParam().scale * unit(rng);
    if (GetParam().special != 0.0) odd[odd.size() / 2] = GetParam().special;
    data.write("odd.xy", file_of(odd));
    // In place of the odd file, a plain one, for the other files' bits.
    data.write("plain.xy", file_of(sets[odd_place]));
  }

  process_result run(std::vector<std::string> options, const std::string& odd = "odd.xy") {
    options.insert(options.end(), {"--digits", "17", "--format", "long", GetParam().s});
    std::vector<std::string> files = names;
    files[odd_place] = odd;
    options.insert(options.end(), files.begin(), files.end());
    return matrix(options);
  }

  // The lines of a long table that name the file odd, and the others.
  static std::pair<std::string, std::string> split_by_odd(const std::string& out,
                                                          const std::string& odd = "odd.xy") {
    std::string with, without;
    for (const auto& row : split_lines(out, '\t')) {
      std::string line = row[0] + "\t" + row[1] + "\t" + (row.size() > 2 ? row[2] : "") + "\n";
      (row[0] == odd || row[1] == odd ? with : without) += line;
    }
    return {with, without};
  }

  std::vector<std::string> names;
};

const std::string odd_warning = domain_warning("odd.xy");

TEST_P(fast_outside_domain, its_pairs_print_what_the_exact_mode_prints) {
  process_result exact = run({});
  process_result fast = run({"--fast"});
  ASSERT_EQ(exact.status, 0) << exact.err;
  ASSERT_EQ(fast.status, 0) << fast.err;
  EXPECT_EQ(exact.err, odd_warning);
  EXPECT_EQ(fast.err, odd_warning);
  auto [exact_odd, exact_others] = split_by_odd(exact.out);
  auto [fast_odd, fast_others] = split_by_odd(fast.out);
  EXPECT_EQ(std::count(exact_odd.begin(), exact_odd.end(), '\n'), 5);
  EXPECT_EQ(fast_odd, exact_odd);

  // The other pairs went through the same tile arithmetic as when the odd
  // file is a plain one: the same bits.
  process_result plain = run({"--fast"}, "plain.xy");
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(split_by_odd(plain.out, "plain.xy").second, fast_others);
  EXPECT_EQ(split_lines(fast.out, '\t').size(), 15u);
}

TEST_P(fast_outside_domain, against_prints_what_the_exact_mode_prints) {
  // As one of the files: its line is the exact one.
  process_result exact = run({"--against", names[0]});
  process_result fast = run({"--fast", "--against", names[0]});
  EXPECT_EQ(exact.err, odd_warning);
  EXPECT_EQ(fast.err, odd_warning);
  EXPECT_EQ(split_by_odd(fast.out).first, split_by_odd(exact.out).first);
  EXPECT_NE(split_by_odd(exact.out).first, "");
  // As the reference: every pair is.
  exact = run({"--against", "odd.xy"});
  fast = run({"--fast", "--against", "odd.xy"});
  EXPECT_EQ(exact.status, 0);
  EXPECT_EQ(exact.err, odd_warning);
  EXPECT_EQ(fast.err, odd_warning);
  EXPECT_EQ(fast.out, exact.out);
  EXPECT_EQ(split_lines(fast.out, '\t').size(), 6u);
}

TEST_P(fast_outside_domain, row_blocks_join_to_the_whole_table) {
  process_result whole = run({"--fast"});
  std::string joined;
  for (const char* block : {"1/3", "2/3", "3/3"}) {
    process_result part = run({"--fast", "--rows", block});
    EXPECT_EQ(part.status, 0);
    EXPECT_EQ(part.err, odd_warning);
    joined += part.out;
  }
  EXPECT_EQ(joined, whole.out);
}

INSTANTIATE_TEST_SUITE_P(
    table, fast_outside_domain,
    ::testing::Values(outside_case{"values_near_1e200", 1e200, 0.0, "1"},
                      outside_case{"values_near_1e200_wide_window", 1e200, 0.0, "101"},
                      outside_case{"sums_overflow_though_squares_do_not", 3e152, 0.0, "101"},
                      outside_case{"one_inf", 1.0, std::numeric_limits<double>::infinity(), "101"},
                      outside_case{"one_minus_inf", 1.0, -std::numeric_limits<double>::infinity(), "3"},
                      outside_case{"one_nan", 1.0, std::numeric_limits<double>::quiet_NaN(), "5"}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Blocks of rows -----------------------------------------------------------

struct split_case {
  const char* name;
  std::vector<std::string> options;
};

void PrintTo(const split_case& c, std::ostream* os) { *os << c.name; }

class row_blocks : public matrix_command, public ::testing::WithParamInterface<split_case> {
 protected:
  // More files than a tile of the fast mode holds, so that blocks cut tiles.
  void SetUp() override {
    std::mt19937_64 rng(11);
    auto sets = make_family(family::mixed, 600, 12, rng);
    for (std::size_t i = 0; i < sets.size(); ++i) {
      names.push_back(numbered_file("h", i));
      data.write(names.back(), file_of(sets[i]));
    }
  }

  process_result run(std::vector<std::string> options, const std::string& threads) {
    options.insert(options.end(), {"--threads", threads, "7"});
    options.insert(options.end(), names.begin(), names.end());
    return matrix(options);
  }

  std::vector<std::string> names;
};

TEST_P(row_blocks, blocks_one_after_the_other_are_the_whole_table) {
  process_result whole = run(GetParam().options, "2");
  ASSERT_EQ(whole.status, 0) << whole.err;
  for (int blocks : {3, 7}) {
    std::string joined;
    for (int block = 1; block <= blocks; ++block) {
      auto options = GetParam().options;
      options.insert(options.end(), {"--rows", std::to_string(block) + "/" + std::to_string(blocks)});
      process_result part = run(options, block % 2 ? "1" : "2");
      EXPECT_EQ(part.status, 0) << part.err;
      EXPECT_EQ(part.err, "");
      joined += part.out;
    }
    EXPECT_TRUE(joined == whole.out) << blocks << " blocks do not join to the whole table";
  }
}

INSTANTIATE_TEST_SUITE_P(
    forms, row_blocks,
    ::testing::Values(split_case{"tsv", {}}, split_case{"csv_fast", {"--fast", "--format", "csv"}},
                      split_case{"long_fast", {"--fast", "--format", "long", "--digits", "17"}},
                      split_case{"long", {"--format", "long", "--digits", "17"}},
                      split_case{"top_fast", {"--fast", "--top", "3"}}),
    [](const auto& row) { return std::string(row.param.name); });

// More blocks than files: the empty blocks print nothing, the first the header.
TEST_F(matrix_command, more_blocks_than_files) {
  data.write("a.xy", "1 1\n2 2\n3 3\n");
  data.write("b.xy", "1 3\n2 2\n3 1\n");
  std::string joined;
  for (int block = 1; block <= 5; ++block) {
    process_result part = matrix({"--rows", std::to_string(block) + "/5", "3", "a.xy", "b.xy"});
    EXPECT_EQ(part.status, 0);
    joined += part.out;
  }
  EXPECT_EQ(joined, "\ta.xy\tb.xy\na.xy\t1\t0.818181818\nb.xy\t0.818181818\t1\n");
}

}  // namespace
}  // namespace lagscan::testing
