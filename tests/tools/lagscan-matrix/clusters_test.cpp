// Groups, the tree and --center on the built program: exact bytes of the
// groups, the tree as scipy reads and rebuilds it, sets with known groups,
// the dendrogram in the picture, and centred values equal to lagscan's on
// files holding the centred values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "matrix/center.h"
#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

std::string real_text(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string xy_file(const std::vector<double>& y) {
  std::string text;
  for (std::size_t i = 0; i < y.size(); ++i) text += std::to_string(i) + " " + real_text(y[i]) + "\n";
  return text;
}

// Family f of three: a wave of its own frequency, member m shifted by m
// samples and given a little noise of its own.
std::vector<double> family_wave(int f, int m, int n, std::mt19937_64& rng) {
  std::normal_distribution<double> noise(0.0, 0.05);
  const double frequency[] = {0.04, 0.1, 0.22};
  std::vector<double> y(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) y[static_cast<std::size_t>(i)] = std::sin(frequency[f] * (i + m)) + noise(rng);
  return y;
}

// The groups' lines after the header, as file -> cluster number.
std::map<std::string, std::string> cluster_of(const std::string& tsv) {
  std::map<std::string, std::string> of;
  auto rows = split_lines(tsv, '\t');
  EXPECT_FALSE(rows.empty());
  if (rows.empty()) return of;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"file", "cluster", "size", "representative"}));
  for (std::size_t k = 1; k < rows.size(); ++k) of[rows[k][0]] = rows[k][1];
  return of;
}

// The d attributes of the picture's paths (the dendrograms). Found by hand:
// std::regex recurses per character and a long path would overflow the
// stack of a Windows thread.
std::vector<std::string> path_data(const std::string& svg) {
  std::vector<std::string> paths;
  const std::string open = "<path d=\"";
  for (std::size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
    const std::size_t begin = at + open.size();
    paths.push_back(svg.substr(begin, svg.find('"', begin) - begin));
  }
  return paths;
}

class clusters : public matrix_command {
 protected:
  void SetUp() override {
    data.write("up.xy", "1 1\n2 2\n3 3\n");
    data.write("down.xy", "1 3\n2 2\n3 1\n");
    data.write("flat.xy", "1 1\n2 1\n3 1\n");
  }

  // Three families of four shifted waves, given family by family
  // interleaved: w0_0 w1_0 w2_0 w0_1 ...
  std::vector<std::string> write_families(int n) {
    std::mt19937_64 rng(11);
    std::vector<std::string> names;
    for (int m = 0; m < 4; ++m) {
      for (int f = 0; f < 3; ++f) {
        std::string family = "w";
        family += std::to_string(f);
        family += '_';
        std::string name = numbered_file(family.c_str(), m);
        data.write(name, xy_file(family_wave(f, m, n, rng)));
        names.push_back(name);
      }
    }
    return names;
  }
};

TEST_F(clusters, groups_go_to_standard_output_instead_of_the_table) {
  // up-flat and down-flat tie at 0.953...: the chain from up reaches flat,
  // whose nearest are up (the chain's previous) and down: up and flat join.
  // In {up, flat} the means tie: the first file represents the group.
  const std::string groups =
      "file\tcluster\tsize\trepresentative\nup.xy\t1\t2\tup.xy\nflat.xy\t1\t2\tup.xy\ndown.xy\t2\t1\tdown.xy\n";
  process_result r = matrix({"--clusters", "2", "3", "up.xy", "down.xy", "flat.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, groups);

  // The same groups by similarity: joined at 0.95 or above.
  r = matrix({"--cluster-at", "0.95", "3", "up.xy", "down.xy", "flat.xy"});
  EXPECT_EQ(r.out, groups);

  // With -o the table goes to its file and the groups to standard output;
  // with --clusters-out the groups go to theirs and the table stays.
  const std::string table = matrix({"3", "up.xy", "down.xy", "flat.xy"}).out;
  r = matrix({"--clusters", "2", "-o", "table.tsv", "3", "up.xy", "down.xy", "flat.xy"});
  EXPECT_EQ(r.out, groups);
  EXPECT_EQ(with_lf_line_ends(read_file(data.path() / "table.tsv")), table);
  r = matrix({"--clusters", "2", "--clusters-out", "groups.tsv", "3", "up.xy", "down.xy", "flat.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, table);
  EXPECT_EQ(with_lf_line_ends(read_file(data.path() / "groups.tsv")), groups);
  EXPECT_EQ(read_file(data.path() / "up.xy"), "1 1\n2 2\n3 3\n") << "inputs unchanged";
}

TEST_F(clusters, the_tree_holds_each_height_to_the_bit) {
  // The heights are 1 - the table's values, exactly: read from 17 digits.
  process_result r = matrix({"--digits", "17", "--tree-out", "tree.txt", "3", "up.xy", "down.xy", "flat.xy"});
  ASSERT_EQ(r.status, 0);
  auto rows = split_lines(r.out, '\t');
  ASSERT_EQ(rows.size(), 4u);
  const double up_flat = std::strtod(rows[1][3].c_str(), nullptr);
  const double up_down = std::strtod(rows[1][2].c_str(), nullptr);
  const double down_flat = std::strtod(rows[2][3].c_str(), nullptr);
  const double join = (1.0 * (1.0 - up_down) + 1.0 * (1.0 - down_flat)) / 2.0;
  EXPECT_EQ(with_lf_line_ends(read_file(data.path() / "tree.txt")),
            "0\t2\t" + real_text(1.0 - up_flat) + "\t2\n1\t3\t" + real_text(join) + "\t3\n");
}

TEST_F(clusters, three_shifted_families_in_every_form) {
  const std::vector<std::string> names = write_families(240);
  std::string list;
  for (const std::string& name : names) list += name + "\n";
  data.write("list.txt", list);
  std::vector<std::string> by_count = {"--clusters", "3", "21"};
  by_count.insert(by_count.end(), names.begin(), names.end());
  process_result r = matrix(by_count);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::map<std::string, std::string> of = cluster_of(r.out);
  ASSERT_EQ(of.size(), 12u);
  for (const std::string& name : names) {
    EXPECT_EQ(of[name], of[numbered_file(name.substr(0, 3).c_str(), 0)]) << name << " is in its family's group";
  }
  EXPECT_EQ(std::set<std::string>({of["w0_0.xy"], of["w1_0.xy"], of["w2_0.xy"]}).size(), 3u);
  for (const auto& row : split_lines(r.out, '\t')) {
    if (row[0] != "file") {
      EXPECT_EQ(row[3].substr(0, 2), row[0].substr(0, 2)) << "a member represents its group";
    }
  }

  // The same groups through --fast, --files-from and --cluster-at.
  const std::vector<std::vector<std::string>> forms = {
      {"--fast", "--clusters", "3", "--files-from", "list.txt", "21"},
      {"--cluster-at", "0.5", "--files-from", "list.txt", "21"},
      {"--center", "--fast", "--cluster-at", "0.5", "--files-from", "list.txt", "21"},
  };
  for (const auto& form : forms) {
    process_result again = matrix(form);
    EXPECT_EQ(again.status, 0) << form[0];
    EXPECT_EQ(again.out, r.out) << form[0] << " " << form[1];
  }
}

TEST_F(clusters, the_picture_draws_the_dendrogram_and_the_groups) {
  const std::vector<std::string> names = write_families(240);
  std::vector<std::string> args = {"--clusters", "3", "--clusters-out", "g.tsv", "--heatmap", "map.svg",
                                   "-o", "t.tsv", "21"};
  args.insert(args.end(), names.begin(), names.end());
  process_result r = matrix(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = read_file(data.path() / "map.svg");
  EXPECT_NE(svg.find("lines part its 3 groups"), std::string::npos);
  // Two dendrograms of 11 brackets each, and two lines across the map each
  // way between the three groups.
  const std::vector<std::string> paths = path_data(svg);
  EXPECT_EQ(paths.size(), 2u);
  for (const std::string& d : paths) EXPECT_EQ(std::count(d.begin(), d.end(), 'M'), 11) << d;
  std::size_t lines_at = svg.find("<g stroke=\"#000000\" stroke-width=\"0.8\">");
  ASSERT_NE(lines_at, std::string::npos);
  std::string lines = svg.substr(lines_at, svg.find("</g>", lines_at) - lines_at);
  std::size_t count = 0;
  for (std::size_t at = lines.find("<line"); at != std::string::npos; at = lines.find("<line", at + 1)) ++count;
  EXPECT_EQ(count, 4u);
#ifdef RSVG_CONVERT
  process_result png = run_process(RSVG_CONVERT, {"map.svg", "-o", "map.png"}, data.path());
  EXPECT_EQ(png.status, 0) << png.err;
  EXPECT_EQ(read_file(data.path() / "map.png").compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
  if (const char* keep = std::getenv("LAGSCAN_TEST_KEEP_PICTURE")) {
    fs::copy_file(data.path() / "map.png", fs::path(keep) / "families.png", fs::copy_options::overwrite_existing);
  }
#endif
}

TEST_F(clusters, past_a_thousand_files_the_dendrogram_ends_at_the_blocks) {
  // 1001 files of two kinds, alternating: blocks of two files, 501 a side.
  std::string list;
  for (int k = 0; k < 1001; ++k) {
    std::string name = numbered_file("p", k);
    data.write(name, k % 2 == 0 ? "1 1\n2 2\n3 3.5\n" : "1 3\n2 -2\n3 1\n");
    list += name + "\n";
  }
  data.write("list.txt", list);
  process_result r = matrix({"-q", "--clusters", "2", "--clusters-out", "g.tsv", "--heatmap", "big.svg", "-o",
                             "table.tsv", "--files-from", "list.txt", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = read_file(data.path() / "big.svg");
  // The files of a kind are identical, and their ties make a long comb of
  // joins at height 0: only the top 500 of the 1000 joins are drawn, the
  // map's 501 cells a side.
  const std::vector<std::string> paths = path_data(svg);
  ASSERT_EQ(paths.size(), 2u);
  const std::string& d = paths[0];
  const auto brackets = std::count(d.begin(), d.end(), 'M');
  EXPECT_EQ(brackets, 500);
  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos) << "the cut is marked";
#ifdef RSVG_CONVERT
  process_result png = run_process(RSVG_CONVERT, {"big.svg", "-o", "big.png"}, data.path());
  EXPECT_EQ(png.status, 0) << png.err;
#endif
}

#ifdef PYTHON3
// scipy reads the tree, finds it valid, and rebuilds the same one from the
// table: same merges and heights to the bit, same flat groups, same
// cophenetic distances and the heat map's order as its leaf order.
TEST_F(clusters, scipy_reads_the_tree_and_builds_the_same) {
  process_result has = run_program(PYTHON3, {"-c", "import numpy, scipy.cluster.hierarchy"});
  if (has.status != 0) GTEST_SKIP() << "no numpy or scipy for " PYTHON3;
  std::mt19937_64 rng(5);
  std::vector<std::string> args = {"-q", "--digits", "17", "--tree-out", "tree.txt", "--clusters", "4",
                                   "--clusters-out", "groups.tsv", "--heatmap", "map.svg", "-o", "table.tsv", "7"};
  std::normal_distribution<double> normal;
  for (int k = 0; k < 40; ++k) {
    std::vector<double> y(30);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = std::sin(0.2 * (k % 4 + 1) * static_cast<double>(i)) + 0.8 * normal(rng);
    std::string name = numbered_file("r", k);
    data.write(name, xy_file(y));
    args.push_back(name);
  }
  data.write("same.xy", read_file(data.path() / "r3.xy"));
  data.write("nan.xy", "0 1\n1 nan\n" + std::string("2 1\n") + [] {
    std::string rest;
    for (int i = 3; i < 30; ++i) rest += std::to_string(i) + " 0.5\n";
    return rest;
  }());
  args.push_back("same.xy");
  args.push_back("nan.xy");
  process_result r = matrix(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string script = R"py(
import re, numpy as np
from scipy.cluster import hierarchy as h
names = open("table.tsv").readline().rstrip("\n").split("\t")[1:]
n = len(names)
t = np.loadtxt("table.tsv", skiprows=1, usecols=range(1, n + 1), ndmin=2)
d = np.where(np.isnan(t), 2.0, np.clip(1.0 - t, 0.0, 2.0))
y = d[np.triu_indices(n, 1)]
mine = np.loadtxt("tree.txt", ndmin=2)
assert h.is_valid_linkage(mine, throw=True)
z = h.linkage(y, method="average")
assert np.array_equal(z, mine), "merges differ"
assert np.array_equal(h.cophenet(z), h.cophenet(mine)), "cophenetic distances differ"
rows = [line.rstrip("\n").split("\t") for line in open("groups.tsv")][1:]
group = {r[0]: r[1] for r in rows}
flat = h.fcluster(mine, 4, criterion="maxclust")
pairs = lambda labels: {(i, j) for i in range(n) for j in range(n) if labels[i] == labels[j]}
assert pairs(flat) == pairs([group[x] for x in names]), "groups differ"
svg = open("map.svg").read()
shown = re.findall(r'text-anchor="end">([^<]*)</text>', svg)
assert shown == [names[i] for i in h.leaves_list(mine)], "the picture's order is not the leaf order"
print("same")
)py";
  data.write("check.py", script);
  process_result checked = run_program(PYTHON3, {"check.py"});
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_EQ(checked.out, "same\n");
}
#endif

// --- --center ------------------------------------------------------------

class centred : public matrix_command {
 protected:
  // Files on far apart baselines, and the same files with their means taken
  // off by the library's own rule, written with 17 digits.
  std::vector<std::string> write_pairs_of_files(int count, int n) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> normal;
    std::vector<std::string> names;
    for (int k = 0; k < count; ++k) {
      std::vector<double> y(static_cast<std::size_t>(n));
      const double baseline = (k % 2 == 0 ? 1.0 : -1.0) * 1000.0 * (k + 1) + 0.1 * k;
      for (double& v : y) v = baseline + normal(rng);
      std::string name = numbered_file("b", k);
      data.write(name, xy_file(y));
      real_array a;
      for (double v : y) a.append(v);
      matrix::center_values(a);
      std::vector<double> c(a.begin(), a.end());
      data.write("c" + name, xy_file(c));
      names.push_back(name);
    }
    return names;
  }
};

TEST_F(centred, a_centred_value_is_lagscans_on_the_centred_files) {
  const std::vector<std::string> names = write_pairs_of_files(5, 50);
  std::vector<std::string> args = {"--center", "--format", "long", "9"};
  args.insert(args.end(), names.begin(), names.end());
  process_result all = matrix(args);
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.err, "");
  auto rows = split_lines(all.out, '\t');
  ASSERT_EQ(rows.size(), 10u);
  for (const auto& row : rows) EXPECT_EQ(row[2], lagscan_value("c" + row[0], "c" + row[1], "9")) << row[0] << row[1];

  process_result one = matrix({"--center", "--against", names[0], "9", names[1], names[2], names[3]});
  ASSERT_EQ(one.status, 0);
  for (const auto& row : split_lines(one.out, '\t')) {
    if (row[0] != "file") {
      EXPECT_EQ(row[1], lagscan_value("c" + names[0], "c" + row[0], "9")) << row[0];
    }
  }

  // --fast centres too: within 1e-12 of the exact centred values, where
  // the uncentred values are another thing altogether.
  std::vector<std::string> fast_args = args;
  fast_args.insert(fast_args.begin(), {"--fast", "--digits", "17"});
  process_result fast = matrix(fast_args);
  ASSERT_EQ(fast.status, 0);
  auto fast_rows = split_lines(fast.out, '\t');
  ASSERT_EQ(fast_rows.size(), rows.size());
  std::vector<std::string> exact_args = fast_args;
  exact_args.erase(exact_args.begin());
  auto exact_rows = split_lines(matrix(exact_args).out, '\t');
  ASSERT_EQ(exact_rows.size(), rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const double exact = std::strtod(exact_rows[k][2].c_str(), nullptr);
    EXPECT_NEAR(std::strtod(fast_rows[k][2].c_str(), nullptr), exact, 1e-12) << k;
    EXPECT_EQ(exact_rows[k][2].substr(0, 6), rows[k][2].substr(0, 6)) << k;
  }
}

TEST_F(centred, baselines_decide_the_groups_unless_centred) {
  // One shape on six baselines, three high and three low: uncentred, the
  // baselines split the set in two; centred, it is one group.
  std::vector<std::string> args = {"--cluster-at", "0.9", "5"};
  for (int k = 0; k < 6; ++k) {
    std::vector<double> y(40);
    for (std::size_t i = 0; i < y.size(); ++i) {
      y[i] = (k < 3 ? 3.0 : -3.0) + std::sin(0.4 * static_cast<double>(i) + 0.01 * k);
    }
    std::string name = numbered_file("e", k);
    data.write(name, xy_file(y));
    args.push_back(name);
  }
  process_result plain = matrix(args);
  ASSERT_EQ(plain.status, 0);
  std::map<std::string, std::string> split = cluster_of(plain.out);
  EXPECT_EQ(split["e0.xy"], split["e2.xy"]);
  EXPECT_NE(split["e0.xy"], split["e3.xy"]);
  args.insert(args.begin(), "--center");
  process_result one = matrix(args);
  ASSERT_EQ(one.status, 0);
  std::map<std::string, std::string> joined = cluster_of(one.out);
  for (const auto& [name, group] : joined) EXPECT_EQ(group, "1") << name;
}

}  // namespace
}  // namespace lagscan::testing
