// The library's tree, groups, centring and x values against lagscan-matrix's
// files for the same data: --tree-out row for row, --clusters-out's
// numbering, sizes and representatives, --center's table to the bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "api/api_support.h"
#include "lagscan/lagscan.hpp"
#include "memory/heap_3.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace lagscan::testing {
namespace {

struct tree_case {
  const char* name;
  std::size_t items;
  std::size_t n;
  int s;
  bool fast;
  bool center;
  double offset;
  // Every item all 1 with a 3 at its own position, at s = 1: every pair has
  // the same similarity, so every join is a tie.
  bool all_tied;
};

const tree_case tree_cases[] = {
    {"random_exact", 9, 50, 11, false, false, 0.0, false},
    {"random_fast", 9, 50, 11, true, false, 0.0, false},
    {"offset_centred", 8, 40, 7, false, true, 1e3, false},
    {"offset_centred_fast", 8, 40, 7, true, true, 1e3, false},
    {"all_tied", 4, 4, 1, false, false, 0.0, true},
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

class library_and_command : public ::testing::TestWithParam<tree_case> {
 protected:
  static void SetUpTestSuite() { locking_switch.fetch_or(1); }

  void SetUp() override {
    const tree_case& c = GetParam();
    for (std::size_t i = 0; i < c.items; ++i) {
      if (c.all_tied) {
        values.emplace_back(c.n, 1.0);
        values.back()[i] = 3.0;
      } else {
        values.push_back(random_values(c.n, 900 + i, c.offset));
      }
      names.push_back("f" + std::to_string(i) + ".xy");
      write_data_file(data.path() / names.back(), values.back());
    }
    options.how = c.fast ? method::fast : method::exact;
    options.center = c.center;
  }

  // lagscan-matrix's run on the files with these options, its status checked.
  std::string command(std::vector<std::string> args) {
    const tree_case& c = GetParam();
    args.insert(args.begin(), {"-q", "--digits", "17"});
    if (c.fast) args.push_back("--fast");
    if (c.center) args.push_back("--center");
    args.push_back(std::to_string(c.s));
    args.insert(args.end(), names.begin(), names.end());
    process_result r = run_process(LAGSCAN_MATRIX_EXE, args, data.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  std::string read(const char* name) {
    std::ifstream in(data.path() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  temp_dir data;
  std::vector<std::vector<double>> values;
  std::vector<std::string> names;
  matrix_options options;
};

TEST_P(library_and_command, the_tree_is_the_commands_tree_out) {
  const tree_case& c = GetParam();
  command({"--tree-out", "tree.tsv", "-o", "table.tsv"});
  const std::vector<std::string> rows = lines_of(read("tree.tsv"));
  const std::vector<double> tree = linkage(values, c.s, options);
  ASSERT_EQ(rows.size() * 4, tree.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const std::vector<std::string> f = fields_of(rows[k]);
    ASSERT_EQ(f.size(), 4u) << rows[k];
    EXPECT_EQ(std::stoul(f[0]), static_cast<std::size_t>(tree[k * 4])) << "row " << k;
    EXPECT_EQ(std::stoul(f[1]), static_cast<std::size_t>(tree[k * 4 + 1])) << "row " << k;
    EXPECT_TRUE(same_bits(std::strtod(f[2].c_str(), nullptr), tree[k * 4 + 2])) << "row " << k << ": " << f[2];
    EXPECT_EQ(std::stoul(f[3]), static_cast<std::size_t>(tree[k * 4 + 3])) << "row " << k;
  }
}

TEST_P(library_and_command, the_groups_are_the_commands_clusters_out) {
  const tree_case& c = GetParam();
  for (std::size_t k : {std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
    command({"--clusters", std::to_string(k), "--clusters-out", "groups.tsv", "-o", "table.tsv"});
    const std::vector<std::string> rows = lines_of(read("groups.tsv"));
    const grouping g = groups(values, c.s, k, options);
    ASSERT_EQ(rows.size(), c.items + 1);
    for (std::size_t r = 1; r < rows.size(); ++r) {
      const std::vector<std::string> f = fields_of(rows[r]);  // file, cluster, size, representative
      ASSERT_EQ(f.size(), 4u);
      const std::size_t item = std::stoul(f[0].substr(1));
      const std::size_t label = std::stoul(f[1]);
      EXPECT_EQ(g.labels[item], label) << f[0] << ", k " << k;
      EXPECT_EQ(g.sizes[label - 1], std::stoul(f[2])) << f[0];
      EXPECT_EQ(names[g.medoids[label - 1]], f[3]) << f[0];
    }
  }
  // A cut by similarity, as --cluster-at.
  command({"--cluster-at", "0.25", "--clusters-out", "groups.tsv", "-o", "table.tsv"});
  const std::vector<std::string> rows = lines_of(read("groups.tsv"));
  const grouping g = groups_at(values, c.s, 0.25, options);
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string> f = fields_of(rows[r]);
    EXPECT_EQ(g.labels[std::stoul(f[0].substr(1))], std::stoul(f[1])) << f[0];
  }
}

TEST_P(library_and_command, the_table_is_the_commands_bit_for_bit) {
  const tree_case& c = GetParam();
  const std::vector<std::string> rows = lines_of(command({}));
  const std::vector<double> table = all_pairs(values, c.s, options);
  ASSERT_EQ(rows.size(), c.items + 1);
  for (std::size_t i = 0; i < c.items; ++i) {
    const std::vector<std::string> f = fields_of(rows[i + 1]);
    ASSERT_EQ(f.size(), c.items + 1);
    for (std::size_t j = 0; j < c.items; ++j) {
      EXPECT_TRUE(same_bits(std::strtod(f[j + 1].c_str(), nullptr), table[i * c.items + j])) << i << ", " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(cases, library_and_command, ::testing::ValuesIn(tree_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(read_values_with_x, gives_each_pairs_x_converted_as_a_y) {
  temp_dir data;
  {
    std::ofstream out(data.path() / "xy.xy", std::ios::binary);
    out << "' comment\r\n0.5 1\r\n/* 9 9 */ -2e3\t2.25\n7 3 1e-310";  // the last x has no y
  }
  std::vector<double> x{42.0};  // replaced, not appended to
  const std::vector<double> y = read_values(data.path() / "xy.xy", x);
  EXPECT_EQ(x, (std::vector<double>{0.5, -2e3, 7, 1e-310}));
  EXPECT_EQ(y, (std::vector<double>{1, 2.25, 3, 0}));
  EXPECT_EQ(read_values(data.path() / "xy.xy"), y);
  std::vector<double> untouched{1.0};
  EXPECT_THROW(read_values(data.path() / "missing.xy", untouched), file_error);
  EXPECT_EQ(untouched, std::vector<double>{1.0});
}

}  // namespace
}  // namespace lagscan::testing
