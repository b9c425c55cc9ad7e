// The heat map (drawn, rendered, and grouping similar files together) and
// the progress line (on a terminal only).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

// A pattern of n values: a slow wave with a small twist of its own, turned
// upside down for the second group.
std::string wave_file(int n, double phase, double sign) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    double y = sign * (std::sin(0.3 * i + phase) + 0.05 * std::cos(1.7 * i + 3 * phase));
    text += std::to_string(i) + " " + std::to_string(y) + "\n";
  }
  return text;
}

struct cell_rect {
  double x, y, width, height;
  int r, g, b;
};

// The rects of the map's cells.
std::vector<cell_rect> cell_rects(const std::string& svg) {
  std::size_t begin = svg.find("<g shape-rendering=\"crispEdges\">");
  std::size_t end = svg.find("</g>", begin);
  std::string cells = svg.substr(begin, end - begin);
  std::regex rect(R"re(<rect x="([0-9.]+)" y="([0-9.]+)" width="([0-9.]+)" height="([0-9.]+)" fill="#([0-9a-f]{2})([0-9a-f]{2})([0-9a-f]{2})"/>)re");
  std::vector<cell_rect> rects;
  for (auto it = std::sregex_iterator(cells.begin(), cells.end(), rect); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    rects.push_back({std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]),
                     std::stoi(m[5], nullptr, 16), std::stoi(m[6], nullptr, 16), std::stoi(m[7], nullptr, 16)});
  }
  return rects;
}

// The names on the vertical axis, top to bottom.
std::vector<std::string> row_names(const std::string& svg) {
  std::regex label(R"re(text-anchor="end">([^<]*)</text>)re");
  std::vector<std::string> names;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), label); it != std::sregex_iterator(); ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

#ifdef RSVG_CONVERT
// Renders the picture; answers the PNG's width and height (0, 0 when it did
// not draw).
std::pair<unsigned, unsigned> render(const fs::path& svg, const fs::path& png) {
  process_result r = run_process(RSVG_CONVERT, {svg.string(), "-o", png.string()}, svg.parent_path());
  EXPECT_EQ(r.status, 0) << r.err;
  std::string bytes = read_file(png);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto word = [&bytes](std::size_t at) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(bytes[at + k]);
    return v;
  };
  return {word(16), word(20)};
}
#endif

class heat_map : public matrix_command {};

TEST_F(heat_map, two_groups_become_two_blocks) {
  // Given interleaved: a0 b0 a1 b1 a2 b2.
  std::vector<std::string> args = {"-q", "--heatmap", "map.svg", "-o", "table.tsv", "5"};
  for (int k = 0; k < 3; ++k) {
    data.write(numbered_file("a", k), wave_file(60, 0.1 * k, 1.0));
    data.write(numbered_file("b", k), wave_file(60, 0.1 * k + 0.05, -1.0));
    args.push_back(numbered_file("a", k));
    args.push_back(numbered_file("b", k));
  }
  process_result r = matrix(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string svg = read_file(data.path() / "map.svg");
  EXPECT_NE(svg.find("lagscan-matrix: 6 files, s = 5"), std::string::npos);

  std::vector<std::string> order = row_names(svg);
  ASSERT_EQ(order.size(), 6u);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(order[k][0], order[k < 3 ? 0 : 3][0]) << "the groups sit together: row " << k << " is " << order[k];
  }
  EXPECT_NE(order[0][0], order[3][0]);

  // Every cell of a group with its own is red, every cell across is blue.
  std::vector<cell_rect> rects = cell_rects(svg);
  ASSERT_FALSE(rects.empty());
  double cell = rects[0].height;
  double left = rects[0].x;
  double top = rects[0].y;
  int checked = 0;
  for (const cell_rect& rect : rects) {
    auto row = static_cast<std::size_t>(std::lround((rect.y - top) / cell));
    for (double x = rect.x; x < rect.x + rect.width - cell / 2; x += cell) {
      auto column = static_cast<std::size_t>(std::lround((x - left) / cell));
      ASSERT_LT(row, 6u);
      ASSERT_LT(column, 6u);
      bool same_group = order[row][0] == order[column][0];
      EXPECT_EQ(rect.r > rect.b, same_group) << "row " << row << " column " << column;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 36);

#ifdef RSVG_CONVERT
  auto [width, height] = render(data.path() / "map.svg", data.path() / "map.png");
  EXPECT_GT(width, 200u);
  EXPECT_GT(height, 200u);
  // Kept where a person can look at it: LAGSCAN_TEST_KEEP_PICTURE names a folder.
  if (const char* keep = std::getenv("LAGSCAN_TEST_KEEP_PICTURE")) {
    fs::copy_file(data.path() / "map.png", fs::path(keep) / "two_groups.png", fs::copy_options::overwrite_existing);
  }
#endif
}

TEST_F(heat_map, thousands_of_files_are_drawn_in_averaged_blocks) {
  // 1001 files of two kinds: 501 cells a side, blocks of two files.
  std::string list;
  for (int k = 0; k < 1001; ++k) {
    std::string name = numbered_file("p", k);
    data.write(name, k % 2 == 0 ? "1 1\n2 2\n3 3\n" : "1 3\n2 -2\n3 1\n");
    list += name + "\n";
  }
  data.write("list.txt", list);
  process_result r = matrix({"-q", "--heatmap", "big.svg", "-o", "table.tsv", "--files-from", "list.txt", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string svg = read_file(data.path() / "big.svg");
  EXPECT_NE(svg.find("lagscan-matrix: 1001 files, s = 3"), std::string::npos);
  EXPECT_NE(svg.find("blocks of 2 files, each the average of its pairs"), std::string::npos);
  std::vector<cell_rect> rects = cell_rects(svg);
  ASSERT_FALSE(rects.empty());
  std::map<double, int> rows;
  for (const cell_rect& rect : rects) ++rows[rect.y];
  EXPECT_EQ(rows.size(), 501u);
#ifdef RSVG_CONVERT
  auto [width, height] = render(data.path() / "big.svg", data.path() / "big.png");
  EXPECT_GT(width, 800u);
  EXPECT_GT(height, 800u);
#endif
}

#ifdef SCRIPT_PROGRAM
class progress_line : public matrix_command {
 protected:
  // Runs lagscan-matrix with args under script, which gives it a terminal
  // (the shell's redirection, if any, sends one output elsewhere); answers
  // what the terminal showed.
  std::string on_terminal(const std::vector<std::string>& args, const std::string& redirection = "") {
    std::string command = std::string("'") + LAGSCAN_MATRIX_EXE + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += redirection;
    process_result r = run_program(SCRIPT_PROGRAM, {"-q", "-e", "-c", command, "/dev/null"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return r.out;
  }

  void SetUp() override {
    for (const char* name : {"a.xy", "b.xy", "c.xy"}) data.write(name, "1 1\n2 2\n3 3\n4 5\n");
  }
};

TEST_F(progress_line, shows_on_a_terminal) {
  std::string shown = on_terminal({"3", "a.xy", "b.xy", "c.xy"});
  EXPECT_NE(shown.find("\rlagscan-matrix: 0 of 3 pairs"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\rlagscan-matrix: 3 of 3 pairs, "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" in all"), std::string::npos) << shown;
  EXPECT_NE(shown.find("a.xy\t1\t1\t1"), std::string::npos) << "the table is shown too: " << shown;
}

// The line goes where standard error goes, so it is standard error that
// must be the terminal: with only standard output on one, nothing is drawn
// (into the file that standard error is); with only standard error, the
// line is drawn and the file gets the table alone.
TEST_F(progress_line, is_drawn_when_standard_error_is_a_terminal_whatever_standard_output_is) {
  std::string shown = on_terminal({"3", "a.xy", "b.xy", "c.xy"}, " 2>err.txt");
  EXPECT_NE(shown.find("a.xy\t1\t1\t1"), std::string::npos) << "the table is on the terminal: " << shown;
  EXPECT_EQ(shown.find("pairs"), std::string::npos) << shown;
  EXPECT_EQ(read_file(data.path() / "err.txt"), "");

  shown = on_terminal({"3", "a.xy", "b.xy", "c.xy"}, " >out.txt");
  EXPECT_NE(shown.find("\rlagscan-matrix: 3 of 3 pairs, "), std::string::npos) << shown;
  EXPECT_EQ(shown.find("a.xy\t1"), std::string::npos) << shown;
  EXPECT_EQ(read_file(data.path() / "out.txt").rfind("\ta.xy\tb.xy\tc.xy\na.xy\t1\t1\t1\n", 0), 0u);
}

TEST_F(progress_line, quiet_silences_it) {
  std::string shown = on_terminal({"-q", "3", "a.xy", "b.xy", "c.xy"});
  EXPECT_EQ(shown.find("pairs"), std::string::npos) << shown;
  EXPECT_NE(shown.find("a.xy\t1\t1\t1"), std::string::npos) << shown;
}
#endif

}  // namespace
}  // namespace lagscan::testing
