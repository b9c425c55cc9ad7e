#include "matrix/heatmap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lagscan::matrix {
namespace {

// 1 - similarity, within [0, 2]; a value that is not a number is as far as
// anything can be.
float distance_of(double similarity) {
  if (std::isnan(similarity)) return 2.0f;
  return static_cast<float>(std::clamp(1.0 - similarity, 0.0, 2.0));
}

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

}  // namespace

std::vector<std::size_t> cluster_order(const std::vector<float>& given, std::size_t n) {
  // The nearest-neighbour chain: follow nearest neighbours until two
  // clusters are each other's nearest, merge them, go on from the chain's
  // rest. Average linkage is reducible, so this finds the same merges as
  // the plain method in O(n^2). Ties go to the chain's previous cluster,
  // then to the smallest index.
  std::vector<float> d = given;
  std::vector<std::vector<std::size_t>> members(n);
  std::vector<bool> active(n, true);
  for (std::size_t i = 0; i < n; ++i) members[i] = {i};
  std::vector<std::size_t> chain;
  std::size_t remaining = n;
  while (remaining > 1) {
    if (chain.empty()) {
      std::size_t first = 0;
      while (!active[first]) ++first;
      chain.push_back(first);
    }
    std::size_t a = chain.back();
    bool has_previous = chain.size() >= 2;
    std::size_t best = has_previous ? chain[chain.size() - 2] : n;
    float best_distance = has_previous ? d[a * n + best] : std::numeric_limits<float>::infinity();
    for (std::size_t k = 0; k < n; ++k) {
      if (k == a || !active[k]) continue;
      if (d[a * n + k] < best_distance || best == n) {
        best = k;
        best_distance = d[a * n + k];
      }
    }
    if (!has_previous || best != chain[chain.size() - 2]) {
      chain.push_back(best);
      continue;
    }
    chain.pop_back();
    chain.pop_back();
    std::size_t keep = std::min(a, best);
    std::size_t gone = std::max(a, best);
    auto size_keep = static_cast<float>(members[keep].size());
    auto size_gone = static_cast<float>(members[gone].size());
    for (std::size_t k = 0; k < n; ++k) {
      if (!active[k] || k == keep || k == gone) continue;
      float merged = (size_keep * d[keep * n + k] + size_gone * d[gone * n + k]) / (size_keep + size_gone);
      d[keep * n + k] = merged;
      d[k * n + keep] = merged;
    }
    members[keep].insert(members[keep].end(), members[gone].begin(), members[gone].end());
    members[gone].clear();
    active[gone] = false;
    --remaining;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (active[i]) return members[i];
  }
  return {};
}

std::string short_name(const std::string& name, std::size_t most) {
  std::string printable;
  for (char c : name) printable += (c >= 0x20 && c < 0x7f) ? c : '?';
  if (printable.size() <= most || most < 5) return printable.substr(0, std::max<std::size_t>(most, 1));
  std::size_t head = (most - 3) / 2;
  std::size_t tail = most - 3 - head;
  return printable.substr(0, head) + "..." + printable.substr(printable.size() - tail);
}

void write_heatmap(std::FILE* out, const std::vector<std::string>& names, const std::vector<double>& values,
                   std::int32_t s) {
  const std::size_t n = names.size();
  std::vector<float> distances(n * n);
  for (std::size_t i = 0; i < n * n; ++i) distances[i] = distance_of(values[i]);
  for (std::size_t i = 0; i < n; ++i) distances[i * n + i] = 0.0f;
  const std::vector<std::size_t> order = cluster_order(distances, n);
  distances = {};

  const std::size_t block = n <= max_cells ? 1 : (n + max_cells - 1) / max_cells;
  const std::size_t m = n == 0 ? 0 : (n + block - 1) / block;
  std::vector<double> cells = block_averages(values, n, order, block, m);

  std::string note = "ordered by average-linkage clustering on 1 - similarity";
  if (block > 1) {
    note = "blocks of " + std::to_string(block) + " files, each the average of its pairs; " + note +
           "; names left out";
  }

  // Layout: title on top, names left of and above the map, legend right.
  constexpr double map_size_target = 800.0;
  constexpr std::size_t longest_name = 24;
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
  const double left = 20.0 + label_room;
  const double top = 60.0 + label_room;
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
