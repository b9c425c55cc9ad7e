#include "outputs/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "outputs/report_page.h"

namespace lagscan::matrix {
namespace {

constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Writes base64 in pieces, so that a large array never needs its text whole.
void write_base64(report_sink& out, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  constexpr std::size_t piece = 3 * 4096;
  out.write("\"");
  for (std::size_t at = 0; at < size; at += piece) {
    const std::string text = base64(bytes + at, std::min(piece, size - at));
    out.write(text);
  }
  out.write("\"");
}

template <typename T>
void write_array(report_sink& out, const char* key, const std::vector<T>& values) {
  out.write("\"" + std::string(key) + "\":");
  write_base64(out, values.data(), values.size() * sizeof(T));
}

void write_number(report_sink& out, const char* key, double value) {
  // A JSON number where there is one; the page reads null as no number.
  if (std::isfinite(value)) {
    // The shortest text that reads back as the same double.
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.write("\"" + std::string(key) + "\":" + std::string(text, end));
  } else {
    out.write("\"" + std::string(key) + "\":null");
  }
}

// The length of the UTF-8 sequence that starts text[at], or 0 when it is
// not one (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8_length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t least = 0;
  std::uint32_t code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    least = 0x80;
    code = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    least = 0x800;
    code = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    least = 0x10000;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xc0u) != 0x80u) return 0;
    code = (code << 6) | (byte(k) & 0x3fu);
  }
  if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

// The average of each block of the table in the tree's order. Each row is
// read in file order, its values added into their column's block, so that
// the reads run through memory rather than through the order.
std::vector<float> block_means(const std::vector<double>& table, std::size_t n, const std::vector<std::size_t>& order,
                               std::size_t block, std::size_t side, int threads) {
  std::vector<float> means(side * side, std::numeric_limits<float>::quiet_NaN());
  std::vector<std::uint32_t> block_of(n);
  for (std::size_t p = 0; p < n; ++p) block_of[order[p]] = static_cast<std::uint32_t>(p / block);
  const auto sides = static_cast<std::int64_t>(side);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t br = 0; br < sides; ++br) {
    std::vector<double> sum(side, 0.0);
    std::vector<std::size_t> count(side, 0);
    const std::size_t first = static_cast<std::size_t>(br) * block;
    for (std::size_t p = first; p < std::min(n, first + block); ++p) {
      const double* row = table.data() + order[p] * n;
      for (std::size_t q = 0; q < n; ++q) {
        const double v = row[q];
        if (std::isnan(v)) continue;
        sum[block_of[q]] += v;
        ++count[block_of[q]];
      }
    }
    for (std::size_t bc = 0; bc < side; ++bc) {
      if (count[bc] > 0) {
        means[static_cast<std::size_t>(br) * side + bc] = static_cast<float>(sum[bc] / static_cast<double>(count[bc]));
      }
    }
  }
  return means;
}

// Each signal's least and greatest value over runs of `width` samples.
void envelope(std::span<const double> values, std::size_t width, std::vector<float>& low, std::vector<float>& high) {
  for (std::size_t at = 0; at < values.size(); at += width) {
    double lo = values[at];
    double hi = values[at];
    for (std::size_t k = at + 1; k < std::min(values.size(), at + width); ++k) {
      // NaN stays: a run with one shows none of its numbers.
      if (std::isnan(values[k]) || values[k] < lo) lo = values[k];
      if (std::isnan(values[k]) || values[k] > hi) hi = values[k];
    }
    low.push_back(static_cast<float>(lo));
    high.push_back(static_cast<float>(hi));
  }
}

// How the signals are held: every value, or envelopes of runs of `width`
// samples, chosen for the whole page (the reference included) at once.
struct signal_plan {
  bool exact = true;
  std::size_t width = 1;
  std::size_t buckets = 0;
};

signal_plan plan_signals(std::size_t items, std::size_t count) {
  signal_plan plan;
  plan.buckets = count;
  if (items * count <= exact_signal_values) return plan;
  const std::size_t buckets_each = std::max<std::size_t>(16, envelope_values / 2 / std::max<std::size_t>(items, 1));
  plan.exact = false;
  plan.width = (count + buckets_each - 1) / buckets_each;
  plan.buckets = (count + plan.width - 1) / plan.width;
  return plan;
}

void write_signal(report_sink& out, const signal_plan& plan, std::span<const std::span<const double>> signals,
                  const char* exact_key) {
  if (plan.exact) {
    std::vector<double> all;
    for (std::span<const double> values : signals) all.insert(all.end(), values.begin(), values.end());
    write_array(out, exact_key, all);
    return;
  }
  std::vector<float> low;
  std::vector<float> high;
  low.reserve(signals.size() * plan.buckets);
  high.reserve(signals.size() * plan.buckets);
  for (std::span<const double> values : signals) envelope(values, plan.width, low, high);
  write_array(out, "min", low);
  out.write(",");
  write_array(out, "max", high);
}

void write_data(report_sink& out, const report_input& input, int threads) {
  const std::size_t n = input.names.size();
  const std::size_t count = input.signals.empty() ? input.reference.size() : input.signals.front().size();
  out.write(std::string("{\"version\":1,\"mode\":\"") + (input.against ? "against" : "pairs") + "\",\"s\":" +
            std::to_string(input.s) + ",\"digits\":" + std::to_string(input.digits) + ",\"count\":" +
            std::to_string(count) + ",\"fast\":" + (input.fast ? "true" : "false") + ",\"center\":" +
            (input.center ? "true" : "false") + ",");
  out.write("\"names\":[");
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) out.write(",");
    const std::string text = json_text(input.names[i]);
    out.write(text);
  }
  out.write("],");
  const signal_plan plan = plan_signals(n + (input.against ? 1 : 0), count);
  if (plan.exact) {
    out.write("\"signals\":{\"kind\":\"exact\",");
  } else {
    out.write("\"signals\":{\"kind\":\"envelope\",\"width\":" + std::to_string(plan.width) + ",\"buckets\":" +
              std::to_string(plan.buckets) + ",");
  }
  write_signal(out, plan, input.signals, "values");
  out.write("}");

  if (input.against) {
    out.write(",\"against\":{\"reference\":");
    const std::string text = json_text(input.reference_name);
    out.write(text);
    out.write(",");
    write_array(out, "values", *input.against_values);
    out.write(",");
    const std::span<const double> reference[] = {input.reference};
    write_signal(out, plan, reference, "signal");
    out.write("}}");
    return;
  }

  const std::vector<double>& table = *input.table;
  const cluster_tree& tree = *input.tree;
  std::vector<std::size_t> order = leaf_order(tree);
  std::vector<std::int32_t> order32(order.begin(), order.end());
  out.write(",");
  write_array(out, "order", order32);
  std::vector<std::int32_t> a;
  std::vector<std::int32_t> b;
  std::vector<double> height;
  for (const merge& m : tree.merges) {
    a.push_back(static_cast<std::int32_t>(m.a));
    b.push_back(static_cast<std::int32_t>(m.b));
    height.push_back(m.height);
  }
  out.write(",\"tree\":{");
  write_array(out, "a", a);
  out.write(",");
  write_array(out, "b", b);
  out.write(",");
  write_array(out, "height", height);
  out.write("},\"table\":{");
  if (n <= exact_table_files) {
    std::vector<double> upper;
    upper.reserve(n * (n + 1) / 2);
    for (std::size_t i = 0; i < n; ++i) upper.insert(upper.end(), table.begin() + static_cast<std::ptrdiff_t>(i * n + i),
                                                     table.begin() + static_cast<std::ptrdiff_t>((i + 1) * n));
    out.write("\"kind\":\"exact\",");
    write_array(out, "values", upper);
    out.write("}");
  } else {
    const std::size_t block = (n + block_sides - 1) / block_sides;
    const std::size_t side = (n + block - 1) / block;
    out.write("\"kind\":\"blocks\",\"block\":" + std::to_string(block) + ",\"side\":" + std::to_string(side) + ",");
    write_array(out, "means", block_means(table, n, order, block, side, threads));
    out.write("}");
    const std::size_t most = std::min(nearest_files, n - 1);
    std::vector<std::int32_t> nearest = nearest_of(table, n, most, threads);
    std::vector<double> values(nearest.size());
    for (std::size_t k = 0; k < nearest.size(); ++k) {
      values[k] = table[(k / most) * n + static_cast<std::size_t>(nearest[k])];
    }
    out.write(",\"nearest\":{\"k\":" + std::to_string(most) + ",");
    write_array(out, "index", nearest);
    out.write(",");
    write_array(out, "value", values);
    out.write("}");
  }
  if (input.cut.how != report_cut::kind::none) {
    out.write(std::string(",\"cut\":{\"kind\":\"") +
              (input.cut.how == report_cut::kind::clusters ? "clusters" : "threshold") + "\",");
    write_number(out, "value", input.cut.value);
    if (input.groups != nullptr) {
      // The medoids of the run's cut, for pages too large to find them.
      const std::size_t groups = input.groups->sizes.size();
      out.write(",\"kept\":" + std::to_string(n - groups) + ",");
      std::vector<std::int32_t> medoids(input.groups->representative.begin(), input.groups->representative.end());
      write_array(out, "medoids", medoids);
    }
    out.write("}");
  }
  out.write("}");
}

}  // namespace

std::string base64(const unsigned char* bytes, std::size_t size) {
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  std::size_t at = 0;
  for (; at + 3 <= size; at += 3) {
    const std::uint32_t v = (std::uint32_t{bytes[at]} << 16) | (std::uint32_t{bytes[at + 1]} << 8) | bytes[at + 2];
    text += base64_digits[v >> 18];
    text += base64_digits[(v >> 12) & 63u];
    text += base64_digits[(v >> 6) & 63u];
    text += base64_digits[v & 63u];
  }
  if (at < size) {
    const std::uint32_t v = (std::uint32_t{bytes[at]} << 16) | (at + 1 < size ? std::uint32_t{bytes[at + 1]} << 8 : 0u);
    text += base64_digits[v >> 18];
    text += base64_digits[(v >> 12) & 63u];
    text += at + 1 < size ? base64_digits[(v >> 6) & 63u] : '=';
    text += '=';
  }
  return text;
}

std::string json_text(const std::string& name) {
  std::string text = "\"";
  for (std::size_t at = 0; at < name.size();) {
    const auto c = static_cast<unsigned char>(name[at]);
    const std::size_t length = utf8_length(name, at);
    if (length == 0) {
      text += "\\ufffd";
      ++at;
      continue;
    }
    if (length > 1) {
      text.append(name, at, length);
      at += length;
      continue;
    }
    ++at;
    // <, > and & as escapes: "</script>" or "<!--" cannot appear.
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + "\"";
}

std::vector<std::int32_t> nearest_of(const std::vector<double>& table, std::size_t n, std::size_t most, int threads) {
  std::vector<std::int32_t> nearest(n * most, -1);
  if (most == 0) return nearest;
  // Larger first, NaN last, then the lower index: best_first's order.
  const auto before = [](double v, std::size_t j, double w, std::size_t k) {
    const bool v_nan = std::isnan(v);
    const bool w_nan = std::isnan(w);
    if (v_nan != w_nan) return w_nan;
    if (!v_nan && v != w) return v > w;
    return j < k;
  };
  const auto rows = static_cast<std::int64_t>(n);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 64)
  for (std::int64_t r = 0; r < rows; ++r) {
    const auto i = static_cast<std::size_t>(r);
    const double* row = table.data() + i * n;
    // The best so far, best first; a value that does not beat the last is
    // passed over at the cost of one comparison.
    std::vector<std::size_t> held;
    held.reserve(most + 1);
    for (std::size_t j = 0; j < n; ++j) {
      if (j == i) continue;
      if (held.size() == most && !before(row[j], j, row[held.back()], held.back())) continue;
      auto at = held.end();
      while (at != held.begin() && before(row[j], j, row[*(at - 1)], *(at - 1))) --at;
      held.insert(at, j);
      if (held.size() > most) held.pop_back();
    }
    for (std::size_t k = 0; k < held.size(); ++k) nearest[i * most + k] = static_cast<std::int32_t>(held[k]);
  }
  return nearest;
}

void write_report(std::FILE* out, const report_input& input, int threads) {
  // A failed write shows in the stream's error flag, which the caller checks.
  class file_sink : public report_sink {
   public:
    explicit file_sink(std::FILE* file) : file_(file) {}
    void write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), file_); }

   private:
    std::FILE* file_;
  } sink(out);
  write_report(sink, input, threads);
}

std::string report_page(const report_input& input, int threads) {
  class text_sink : public report_sink {
   public:
    void write(std::string_view text) override { page.append(text); }
    std::string page;
  } sink;
  write_report(sink, input, threads);
  return std::move(sink.page);
}

void write_report(report_sink& out, const report_input& input, int threads) {
  const std::string_view page = report_page_html();
  const std::pair<std::string_view, std::string_view> parts[] = {
      {"@style@", report_page_css()}, {"@script@", report_page_js()}, {"@version@", report_page_version()}};
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t mark = page.find('@', at);
    if (mark == std::string_view::npos) {
      out.write(page.substr(at));
      break;
    }
    out.write(page.substr(at, mark - at));
    at = mark;
    bool replaced = false;
    for (const auto& [key, text] : parts) {
      if (page.compare(at, key.size(), key) == 0) {
        out.write(text);
        at += key.size();
        replaced = true;
      }
    }
    if (!replaced && page.compare(at, 6, "@data@") == 0) {
      write_data(out, input, threads);
      at += 6;
      replaced = true;
    }
    if (!replaced) {
      out.write("@");
      ++at;
    }
  }
}

}  // namespace lagscan::matrix
