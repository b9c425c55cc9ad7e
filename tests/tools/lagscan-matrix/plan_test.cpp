// Which combinations of lagscan-matrix's options make a plan, and the exact
// message of each refused one: parsed as the command parses them, planned
// without a file.
#include "tools/lagscan-matrix/plan.h"

#include <gtest/gtest.h>

#include <CLI.hpp>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/command.h"
#include "tools/lagscan-matrix/options.h"

namespace lagscan::matrix {
namespace {

// The main command's options parsed from args (after the program's name).
settings parsed(const std::vector<std::string>& args) {
  settings options;
  CLI::App app{"test", program};
  declare_options(app, options);
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  app.parse(static_cast<int>(argv.size()), argv.data());
  note_given(app, options);
  return options;
}

// The message make_plan refuses with, or "" when it makes a plan.
std::string refusal(const settings& options) {
  try {
    make_plan(options);
  } catch (const failure& f) {
    EXPECT_EQ(f.status, status_usage);
    return f.what;
  }
  return "";
}

struct refused_case {
  std::vector<std::string> args;
  std::string message;
};

TEST(Plan, RefusesEachCombinationWithItsMessage) {
  const std::vector<refused_case> cases = {
      {{"4", "f"}, "s needs to be an odd number"},
      {{"-3", "f"}, "s needs to be a positive odd number"},
      // S is told before any clash of options.
      {{"--against", "r", "--heatmap", "h.svg", "4", "f"}, "s needs to be an odd number"},
      {{"--against", "r", "--heatmap", "h.svg", "3", "f"}, "--heatmap draws all pairs; it does not go with --against"},
      {{"--rows", "0/2", "3", "f"}, "--rows 0/2: give I/K, block I of K, with 1 <= I <= K"},
      {{"--rows", "3/2", "3", "f"}, "--rows 3/2: give I/K, block I of K, with 1 <= I <= K"},
      {{"--rows", "1/x", "3", "f"}, "--rows 1/x: give I/K, block I of K, with 1 <= I <= K"},
      {{"--rows", "1/2", "--against", "r", "3", "f"}, "--rows splits the table of all pairs; it does not go with --against"},
      {{"--rows", "1/2", "--heatmap", "h.svg", "3", "f"}, "--heatmap draws the whole table; it does not go with --rows"},
      {{"--rows", "1/2", "--report", "r.html", "3", "f"}, "--report shows the whole table; it does not go with --rows"},
      {{"--tile", "1/1", "-o", "p", "--report", "r.html", "3", "f"},
       "--report shows the whole table; it does not go with --tile (merge the parts, then run on the packed set)"},
      {{"--tree-out", "t", "--against", "r", "3", "f"}, "--tree-out clusters all pairs; it does not go with --against"},
      {{"--tree-out", "t", "--clusters-out", "g", "--against", "r", "3", "f"},
       "--clusters-out clusters all pairs; it does not go with --against"},
      {{"--tree-out", "t", "--cluster-at", "0.5", "--rows", "1/2", "3", "f"},
       "--cluster-at needs the whole table; it does not go with --rows"},
      {{"--cluster-at", "0.5", "--clusters", "2", "--against", "r", "3", "f"},
       "--clusters clusters all pairs; it does not go with --against"},
      {{"--clusters", "2", "--cluster-at", "0.5", "3", "f"}, "--clusters and --cluster-at cut the tree in two ways: give one"},
      {{"--clusters-out", "g", "3", "f"}, "--clusters-out writes groups: give --clusters K or --cluster-at T"},
      {{"--cluster-at", "1.5", "3", "f"}, "--cluster-at: give a similarity from -1 to 1"},
      {{"--cluster-at", "nan", "3", "f"}, "--cluster-at: give a similarity from -1 to 1"},
      {{"--tile", "7/3", "3", "f"}, "--tile 7/3: give T/K, tile T of the K (K + 1) / 2 tiles of K blocks"},
      {{"--tile", "1/3", "--keep-going", "-o", "p", "3", "f"},
       "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering"},
      {{"--tile", "1/3", "--tree-out", "t", "-o", "p", "3", "f"},
       "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering"},
      {{"--tile", "1/3", "--digits", "9", "-o", "p", "3", "f"},
       "--tile writes a part; merge writes the long form, with --digits"},
      {{"--tile", "1/3", "--format", "long", "-o", "p", "3", "f"},
       "--tile writes a part; merge writes the long form, with --digits"},
      {{"--tile", "1/3", "3", "f"}, "--tile writes a part for merge: give -o PART"},
      {{"--top", "2", "--format", "csv", "3", "f"}, "--top for all pairs lists each file's nearest in --format long"},
  };
  for (const refused_case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(refusal(parsed(c.args)), c.message);
  }
}

TEST(Plan, PackWantsItsOutput) {
  settings options;
  options.pack = true;
  EXPECT_EQ(refusal(options), "give -o SET.npy");
  options.output = "set.npy";
  EXPECT_EQ(make_plan(options).work, computation::pack);
  EXPECT_TRUE(make_plan(options).outputs.empty());
  // The set's names are written too, and kept from the inputs with it.
  const std::pair<std::string, std::string> names{"-o", "set.names"};
  EXPECT_EQ(make_plan(options).written.back(), names);
}

struct accepted_case {
  std::vector<std::string> args;
  computation work;
  // The outputs' makers and paths, in the order they are opened.
  std::vector<std::pair<output_maker, std::string>> outputs;
};

TEST(Plan, MakesTheComputationAndTheOutputsOfEachCombination) {
  const std::vector<accepted_case> cases = {
      {{"3", "f", "g"}, computation::all_pairs, {{table_output, ""}}},
      {{"-o", "t.tsv", "3", "f"}, computation::all_pairs, {{table_output, "t.tsv"}}},
      {{"--against", "r", "--top", "2", "--format", "csv", "3", "f"}, computation::against, {{table_output, ""}}},
      {{"--top", "2", "--format", "long", "3", "f"}, computation::all_pairs, {{table_output, ""}}},
      // The groups take standard output from the table unless either has a file.
      {{"--clusters", "2", "3", "f"}, computation::all_pairs, {{groups_output, ""}}},
      {{"--cluster-at", "-1", "-o", "t", "3", "f"}, computation::all_pairs, {{table_output, "t"}, {groups_output, ""}}},
      {{"--clusters", "2", "--clusters-out", "g", "--tree-out", "tr", "--heatmap", "h.svg", "3", "f"},
       computation::all_pairs,
       {{table_output, ""}, {heatmap_output, "h.svg"}, {groups_output, "g"}, {tree_output, "tr"}}},
      {{"--tree-out", "tr", "3", "f"}, computation::all_pairs, {{table_output, ""}, {tree_output, "tr"}}},
      {{"--tile", "2/3", "--fast", "--top", "4", "-o", "p", "3", "f"}, computation::tile, {}},
      {{"--rows", "2/3", "--fast", "3", "f"}, computation::all_pairs, {{table_output, ""}}},
      // The report page: of all pairs from the tree, of --against from the list.
      {{"--report", "r.html", "--fast", "--cluster-at", "0.5", "3", "f"},
       computation::all_pairs,
       {{groups_output, ""}, {report_output, "r.html"}}},
      {{"--against", "r", "--report", "p.html", "3", "f"}, computation::against,
       {{table_output, ""}, {ranked_report_output, "p.html"}}},
  };
  for (const accepted_case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const plan p = make_plan(parsed(c.args));
    EXPECT_EQ(p.work, c.work);
    std::vector<std::pair<output_maker, std::string>> outputs;
    for (const planned_output& out : p.outputs) outputs.emplace_back(out.make, out.path);
    EXPECT_EQ(outputs, c.outputs);
  }
}

TEST(Plan, KeepsTheTablesFormAndBlock) {
  const plan top = make_plan(parsed({"--top", "2", "--digits", "17", "3", "f"}));
  EXPECT_EQ(top.table.format, table_format::long_form);  // each file's nearest
  EXPECT_EQ(top.table.digits, 17);
  EXPECT_EQ(top.table.top, 2);
  const plan against = make_plan(parsed({"--against", "r", "--top", "2", "--format", "csv", "3", "f"}));
  EXPECT_EQ(against.table.format, table_format::csv);
  const plan second = make_plan(parsed({"--rows", "2/3", "--format", "csv", "5", "f"}));
  EXPECT_EQ(second.block.block, 2U);
  EXPECT_EQ(second.block.blocks, 3U);
  EXPECT_FALSE(second.table.header);  // only the first block has it
  EXPECT_EQ(second.s, 5);
  const plan tile = make_plan(parsed({"--tile", "2/3", "-o", "p", "3", "f"}));
  EXPECT_EQ(tile.tile.number, 2U);
  EXPECT_EQ(tile.tile.blocks, 3U);
  EXPECT_EQ(tile.target, "p");
}

TEST(Plan, ListsEveryFileItWritesToKeepThemFromTheInputs) {
  const plan p = make_plan(parsed({"--clusters", "2", "--clusters-out", "g", "--tree-out", "tr", "-o", "t", "3", "f"}));
  const std::vector<std::pair<std::string, std::string>> written = {
      {"-o", "t"}, {"--heatmap", ""}, {"--report", ""}, {"--clusters-out", "g"}, {"--tree-out", "tr"}};
  EXPECT_EQ(p.written, written);
  EXPECT_FALSE(p.keep_values);
  // The page shows the files' values, so --fast must not let them go.
  EXPECT_TRUE(make_plan(parsed({"--fast", "--report", "r.html", "3", "f"})).keep_values);
  EXPECT_TRUE(p.grouped());
  EXPECT_EQ(p.clusters, 2);
}

}  // namespace
}  // namespace lagscan::matrix
