#include "outputs/heatmap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lagscan::matrix {
namespace {

struct colour {
  int r, g, b;
};

// The diverging scale: blue at -1, near white at 0, red at +1.
constexpr double scale_points[] = {-1.0, -0.5, 0.0, 0.5, 1.0};
constexpr colour scale_colours[] = {
    {0x21, 0x66, 0xac}, {0x92, 0xc5, 0xde}, {0xf7, 0xf7, 0xf7}, {0xf4, 0xa5, 0x82}, {0xb2, 0x18, 0x2b}};
constexpr colour not_a_number_colour{0x80, 0x80, 0x80};

colour colour_of(double value) {
  if (std::isnan(value)) return not_a_number_colour;
  double v = std::clamp(value, -1.0, 1.0);
  std::size_t k = 0;
  while (k + 2 < std::size(scale_points) && v > scale_points[k + 1]) ++k;
  double t = (v - scale_points[k]) / (scale_points[k + 1] - scale_points[k]);
  auto mix = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
  const colour& lo = scale_colours[k];
  const colour& hi = scale_colours[k + 1];
  return {mix(lo.r, hi.r), mix(lo.g, hi.g), mix(lo.b, hi.b)};
}

std::string hex(const colour& c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string xml_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

void put(std::FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }

// The averages of the values over blocks of `block` neighbouring files of
// order: m x m of them. NaNs are left out of an average; a block of only
// NaNs is NaN.
std::vector<double> block_averages(const std::vector<double>& values, std::size_t n,
                                   const std::vector<std::size_t>& order, std::size_t block, std::size_t m) {
  std::vector<double> sums(m * m, 0.0);
  std::vector<std::uint64_t> counts(m * m, 0);
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      double v = values[order[a] * n + order[b]];
      if (std::isnan(v)) continue;
      std::size_t cell = (a / block) * m + b / block;
      sums[cell] += v;
      ++counts[cell];
    }
  }
  for (std::size_t cell = 0; cell < m * m; ++cell) {
    sums[cell] = counts[cell] == 0 ? std::numeric_limits<double>::quiet_NaN()
                                   : sums[cell] / static_cast<double>(counts[cell]);
  }
  return sums;
}

// Where a dendrogram goes: the leaves' axis starts at `start` (the map's
// edge) with `cell` units a block; heights run from `tips` (height 0) back
// to `root` (the highest join).
struct dendrogram_place {
  double root;
  double start;
  double tips;
  double cell;
};

// The two dendrograms, left of the rows and above the columns, as paths:
// each join a bracket from its parts' heights up to its own. Only the top
// m - 1 joins of a map of m blocks a side are drawn, so the tree has the
// map's resolution: below them each cluster (a run of the order) ends as a
// leaf of height 0 at the middle of its run. With groups, a dashed line at
// the cut.
std::string dendrograms(const cluster_tree& tree, const std::vector<std::size_t>& order, std::size_t block,
                        const grouping* groups, const dendrogram_place& rows, const dendrogram_place& columns) {
  const std::size_t n = tree.leaves;
  if (n < 2) return "";
  const std::size_t blocks = (n + block - 1) / block;
  const std::size_t first_drawn = n - 1 - std::min(n - 1, blocks - 1);
  // Each cluster's run of the order, its place along the axis (in blocks)
  // and its height as drawn.
  std::vector<std::size_t> low(2 * n - 1);
  std::vector<std::size_t> high(2 * n - 1);
  std::vector<double> place(2 * n - 1);
  std::vector<double> height(2 * n - 1, 0.0);
  for (std::size_t k = 0; k < n; ++k) low[order[k]] = high[order[k]] = k;
  const auto middle = [&](std::size_t c) {
    return static_cast<double>(low[c] + high[c] + 1) / 2.0 / static_cast<double>(block);
  };
  for (std::size_t c = 0; c < n; ++c) place[c] = middle(c);
  const double tallest = tree.merges.back().height > 0.0 ? tree.merges.back().height : 1.0;
  std::string rows_path;
  std::string columns_path;
  auto bracket = [&](const dendrogram_place& p, bool across, double p1, double h1, double p2, double h2, double h) {
    auto along = [&](double at) { return number(p.start + p.cell * at); };
    auto up = [&](double at) { return number(p.tips + (p.root - p.tips) * at / tallest); };
    // Rows: height runs along x; columns: along y.
    if (!across) {
      return "M" + up(h1) + " " + along(p1) + "H" + up(h) + "V" + along(p2) + "H" + up(h2);
    }
    return "M" + along(p1) + " " + up(h1) + "V" + up(h) + "H" + along(p2) + "V" + up(h2);
  };
  for (std::size_t k = 0; k < tree.merges.size(); ++k) {
    const merge& m = tree.merges[k];
    const std::size_t c = n + k;
    low[c] = std::min(low[m.a], low[m.b]);
    high[c] = std::max(high[m.a], high[m.b]);
    if (k < first_drawn) {
      place[c] = middle(c);
      continue;
    }
    height[c] = m.height;
    place[c] = (place[m.a] + place[m.b]) / 2.0;
    rows_path += bracket(rows, false, place[m.a], height[m.a], place[m.b], height[m.b], height[c]);
    columns_path += bracket(columns, true, place[m.a], height[m.a], place[m.b], height[m.b], height[c]);
  }
  std::string text = "<g fill=\"none\" stroke=\"#333333\" stroke-width=\"0.8\">\n";
  text += "<path d=\"" + rows_path + "\"/>\n<path d=\"" + columns_path + "\"/>\n</g>\n";
  const double leaves_end = static_cast<double>(blocks);
  if (groups != nullptr && groups->cut <= tallest) {
    const double r = rows.tips + (rows.root - rows.tips) * std::max(groups->cut, 0.0) / tallest;
    const double c = columns.tips + (columns.root - columns.tips) * std::max(groups->cut, 0.0) / tallest;
    text += "<g stroke=\"#d95f02\" stroke-width=\"1\" stroke-dasharray=\"4 3\">\n";
    text += "<line x1=\"" + number(r) + "\" y1=\"" + number(rows.start) + "\" x2=\"" + number(r) + "\" y2=\"" +
            number(rows.start + rows.cell * leaves_end) + "\"/>\n";
    text += "<line x1=\"" + number(columns.start) + "\" y1=\"" + number(c) + "\" x2=\"" +
            number(columns.start + columns.cell * leaves_end) + "\" y2=\"" + number(c) + "\"/>\n";
    text += "</g>\n";
  }
  // The height scale under the rows' dendrogram.
  const double y = rows.start + rows.cell * leaves_end + 14.0;
  text += "<g font-size=\"10\" fill=\"#444444\">\n";
  text += "<text x=\"" + number(rows.tips) + "\" y=\"" + number(y) + "\" text-anchor=\"middle\">0</text>\n";
  text += "<text x=\"" + number(rows.root) + "\" y=\"" + number(y) + "\" text-anchor=\"middle\">" +
          number(tallest) + "</text>\n";
  text += "<text x=\"" + number((rows.root + rows.tips) / 2.0) + "\" y=\"" + number(y + 12.0) +
          "\" text-anchor=\"middle\">1 - similarity</text>\n</g>\n";
  return text;
}

// Thin lines across the map between neighbouring files of different groups
// (each group is a run of the order).
std::string group_lines(const grouping& groups, const std::vector<std::size_t>& order, std::size_t block, double left,
                        double top, double cell, double map) {
  std::string text = "<g stroke=\"#000000\" stroke-width=\"0.8\">\n";
  for (std::size_t k = 1; k < order.size(); ++k) {
    if (groups.group_of[order[k]] == groups.group_of[order[k - 1]]) continue;
    const double at = cell * static_cast<double>(k) / static_cast<double>(block);
    text += "<line x1=\"" + number(left) + "\" y1=\"" + number(top + at) + "\" x2=\"" + number(left + map) +
            "\" y2=\"" + number(top + at) + "\"/>\n";
    text += "<line x1=\"" + number(left + at) + "\" y1=\"" + number(top) + "\" x2=\"" + number(left + at) +
            "\" y2=\"" + number(top + map) + "\"/>\n";
  }
  return text + "</g>\n";
}

}  // namespace

std::string short_name(const std::string& name, std::size_t most) {
  std::string printable;
  for (char c : name) printable += (c >= 0x20 && c < 0x7f) ? c : '?';
  if (printable.size() <= most || most < 5) return printable.substr(0, std::max<std::size_t>(most, 1));
  std::size_t head = (most - 3) / 2;
  std::size_t tail = most - 3 - head;
  return printable.substr(0, head) + "..." + printable.substr(printable.size() - tail);
}

void write_heatmap(std::FILE* out, const std::vector<std::string>& names, const std::vector<double>& values,
                   std::int32_t s, const cluster_tree& tree, const grouping* groups) {
  const std::size_t n = names.size();
  const std::vector<std::size_t> order = leaf_order(tree);

  const std::size_t block = n <= max_cells ? 1 : (n + max_cells - 1) / max_cells;
  const std::size_t m = n == 0 ? 0 : (n + block - 1) / block;
  std::vector<double> cells = block_averages(values, n, order, block, m);

  std::string note = "ordered by average-linkage clustering on 1 - similarity";
  if (groups != nullptr) {
    note += "; lines part its " + std::to_string(groups->sizes.size()) +
            (groups->sizes.size() == 1 ? " group" : " groups");
  }
  if (block > 1) {
    note = "blocks of " + std::to_string(block) + " files, each the average of its pairs; " + note +
           "; names left out";
  }

  // Layout: title on top, names left of and above the map, legend right.
  constexpr double map_size_target = 800.0;
  constexpr std::size_t longest_name = 24;
  constexpr double dendrogram_room = 110.0;
  const double cell = m == 0 ? 1.0 : std::min(24.0, map_size_target / static_cast<double>(m));
  const double map = cell * static_cast<double>(m);
  const bool named = block == 1;
  const double font = std::min(12.0, cell * 0.85);
  // A name on every row when the rows are tall enough, else on every k-th.
  const std::size_t label_step = font >= 4.0 ? 1 : static_cast<std::size_t>(std::ceil(4.0 / std::max(font, 0.1)));
  const double label_font = std::max(font, 4.0);
  std::size_t widest = 0;
  if (named) {
    for (const std::string& name : names) widest = std::max(widest, short_name(name, longest_name).size());
  }
  const double label_room = named ? 8.0 + static_cast<double>(widest) * label_font * 0.6 : 10.0;
  const double left = 20.0 + dendrogram_room + label_room;
  const double top = 60.0 + dendrogram_room + label_room;
  const double legend_x = left + map + 30.0;
  const double height = top + std::max(map, 220.0) + 40.0;

  // Wide enough for the note under the title too (about 0.6 em a character).
  const double width = std::max(legend_x + 90.0, 40.0 + static_cast<double>(note.size()) * 12.0 * 0.6);

  std::string text;
  text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  text += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" + number(height) +
          "\" viewBox=\"0 0 " + number(width) + " " + number(height) + "\" font-family=\"sans-serif\">\n";
  text += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  std::string title = "lagscan-matrix: " + std::to_string(n) + (n == 1 ? " file" : " files") +
                      ", s = " + std::to_string(s);
  text += "<text x=\"20\" y=\"28\" font-size=\"18\">" + xml_text(title) + "</text>\n";
  text += "<text x=\"20\" y=\"48\" font-size=\"12\" fill=\"#444444\">" + xml_text(note) + "</text>\n";
  put(out, text);

  // The cells, row by row; neighbouring cells of one colour share a rect.
  text = "<g shape-rendering=\"crispEdges\">\n";
  for (std::size_t r = 0; r < m; ++r) {
    std::size_t c = 0;
    while (c < m) {
      std::string fill = hex(colour_of(cells[r * m + c]));
      std::size_t run = 1;
      while (c + run < m && hex(colour_of(cells[r * m + c + run])) == fill) ++run;
      text += "<rect x=\"" + number(left + cell * static_cast<double>(c)) + "\" y=\"" +
              number(top + cell * static_cast<double>(r)) + "\" width=\"" + number(cell * static_cast<double>(run)) +
              "\" height=\"" + number(cell) + "\" fill=\"" + fill + "\"/>\n";
      c += run;
    }
    put(out, text);
    text.clear();
  }
  text += "</g>\n";

  if (named) {
    text += "<g font-size=\"" + number(label_font) + "\" fill=\"#000000\">\n";
    for (std::size_t k = 0; k < n; k += label_step) {
      std::string label = xml_text(short_name(names[order[k]], longest_name));
      double middle = cell * (static_cast<double>(k) + 0.5);
      text += "<text x=\"" + number(left - 4.0) + "\" y=\"" + number(top + middle + label_font * 0.35) +
              "\" text-anchor=\"end\">" + label + "</text>\n";
      double x = left + middle + label_font * 0.35;
      text += "<text x=\"" + number(x) + "\" y=\"" + number(top - 4.0) + "\" transform=\"rotate(-90 " + number(x) +
              " " + number(top - 4.0) + ")\">" + label + "</text>\n";
    }
    text += "</g>\n";
  }

  text += dendrograms(tree, order, block, groups, {20.0, top, left - label_room, cell},
                      {60.0, left, top - label_room, cell});
  if (groups != nullptr) text += group_lines(*groups, order, block, left, top, cell, map);

  // The legend: the scale from +1 at the top to -1 at the bottom.
  const double bar_top = top;
  const double bar_height = 200.0;
  text += "<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n";
  for (std::size_t k = std::size(scale_points); k-- > 0;) {
    double offset = (1.0 - scale_points[k]) / 2.0;
    text += "<stop offset=\"" + number(offset) + "\" stop-color=\"" + hex(scale_colours[k]) + "\"/>\n";
  }
  text += "</linearGradient></defs>\n";
  text += "<rect x=\"" + number(legend_x) + "\" y=\"" + number(bar_top) + "\" width=\"16\" height=\"" +
          number(bar_height) + "\" fill=\"url(#scale)\" stroke=\"#000000\" stroke-width=\"0.5\"/>\n";
  for (double tick : {1.0, 0.5, 0.0, -0.5, -1.0}) {
    double y = bar_top + (1.0 - tick) / 2.0 * bar_height;
    text += "<line x1=\"" + number(legend_x + 16.0) + "\" y1=\"" + number(y) + "\" x2=\"" + number(legend_x + 20.0) +
            "\" y2=\"" + number(y) + "\" stroke=\"#000000\" stroke-width=\"0.5\"/>\n";
    text += "<text x=\"" + number(legend_x + 23.0) + "\" y=\"" + number(y + 4.0) + "\" font-size=\"11\">" +
            (tick > 0 ? "+" : "") + number(tick).substr(0, tick < 0 ? 4 : 3) + "</text>\n";
  }
  text += "<rect x=\"" + number(legend_x) + "\" y=\"" + number(bar_top + bar_height + 12.0) +
          "\" width=\"16\" height=\"10\" fill=\"" + hex(not_a_number_colour) + "\"/>\n";
  text += "<text x=\"" + number(legend_x + 23.0) + "\" y=\"" + number(bar_top + bar_height + 21.0) +
          "\" font-size=\"11\">NaN</text>\n";
  text += "<text x=\"" + number(legend_x) + "\" y=\"" + number(bar_top - 8.0) + "\" font-size=\"11\">similarity</text>\n";
  text += "</svg>\n";
  put(out, text);
}

}  // namespace lagscan::matrix
