// The rules of the data files and of the command written the plainest way,
// with the standard library and none of the code under test, as oracles for
// the fuzz targets.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace lagscan::fuzz {

// NUL becomes a space, and CR too unless it is kept.
inline std::string cleaned(std::string text, bool keep_cr) {
  for (char& c : text) {
    if (c == '\0' || (!keep_cr && c == '\r')) c = ' ';
  }
  return text;
}

// Comments blanked; nothing when a block comment is never closed. The text
// holds no NUL (it was cleaned); its end is where a terminator would be.
inline std::optional<std::string> without_comments(std::string t) {
  const std::size_t n = t.size();
  auto at = [&](std::size_t i) { return i < n ? t[i] : '\0'; };
  std::size_t i = 0;
  while (i < n) {
    if (t[i] == '\'') {
      for (; i < n && t[i] != '\n'; ++i) t[i] = ' ';
    } else if (t[i] == '/' && at(i + 1) == '*') {
      t[i] = t[i + 1] = ' ';
      i += 2;
      int depth = 1;
      while (depth > 0) {
        if (at(i) == '\0' || at(i + 1) == '\0') return std::nullopt;
        if ((t[i] == '/' && t[i + 1] == '*') || (t[i] == '*' && t[i + 1] == '/')) {
          depth += t[i] == '/' ? 1 : -1;
          t[i] = t[i + 1] = ' ';
          i += 2;
        } else {
          t[i++] = ' ';
        }
      }
    } else {
      ++i;
    }
  }
  return t;
}

inline bool separates_tokens(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

inline std::vector<std::string> tokens_of(const std::string& t) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < t.size()) {
    if (separates_tokens(t[i])) {
      ++i;
      continue;
    }
    std::size_t start = i;
    while (i < t.size() && !separates_tokens(t[i])) ++i;
    tokens.push_back(t.substr(start, i - start));
  }
  return tokens;
}

// The second token of every pair through the C library's conversion; a
// lone last token pairs with the empty token, which reads as 0.
inline std::vector<double> pair_values(const std::vector<std::string>& tokens) {
  std::vector<double> values;
  for (std::size_t i = 1; i < tokens.size() + 1; i += 2) {
    values.push_back(i < tokens.size() ? std::strtod(tokens[i].c_str(), nullptr) : 0.0);
  }
  return values;
}

// What loading a data file gives: its values, or nothing for an unclosed
// block comment.
struct loaded_file {
  std::string text;  // cleaned, comments blanked
  std::vector<double> values;
};

inline std::optional<loaded_file> load_model(const std::string& bytes) {
  std::optional<std::string> text = without_comments(cleaned(bytes, false));
  if (!text) return std::nullopt;
  return loaded_file{*text, pair_values(tokens_of(*text))};
}

// Same value, or both NaN of the same sign (the sign shows in the output).
inline bool same_real(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

// The C library's decimal conversion with the result clamped to 32 bits.
inline std::int32_t count_model(const std::string& text) {
  long long v = std::strtoll(text.c_str(), nullptr, 10);  // saturates at the 64-bit limits
  return static_cast<std::int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// The weighted lag sum in its fixed order: per lag, four partial sums
// combined as (p0 + p2) + (p1 + p3), then the rest one by one; the weight of
// lag m is h + 1 - |m|; lags ascending.
inline double lag_sum_model(std::int64_t s, const std::vector<double>& x, const std::vector<double>& y) {
  const std::int64_t h = s / 2;
  const auto n = static_cast<std::int64_t>(x.size());
  double total = 0.0;
  for (std::int64_t m = -h; m <= h; ++m) {
    std::int64_t lo = std::max<std::int64_t>(0, -m);
    std::int64_t hi = std::min(n, n - m);
    auto product = [&](std::int64_t i) {
      return x[static_cast<std::size_t>(i)] * y[static_cast<std::size_t>(i + m)];
    };
    double sum = 0.0;
    if (lo < hi) {
      std::int64_t length = hi - lo;
      std::int64_t quads = length - length % 4;
      if (quads > 0) {
        double p[4] = {0.0, 0.0, 0.0, 0.0};
        for (std::int64_t k = 0; k < quads; ++k) p[k % 4] += product(lo + k);
        sum = (p[0] + p[2]) + (p[1] + p[3]);
      }
      for (std::int64_t k = quads; k < length; ++k) sum += product(lo + k);
    }
    total += sum * static_cast<double>(h + 1 - (m < 0 ? -m : m));
  }
  return total;
}

inline double correlation_model(std::int64_t s, const std::vector<double>& a, const std::vector<double>& b) {
  double c_ab = lag_sum_model(s, a, b);
  double c_aa = lag_sum_model(s, a, a);
  double c_bb = lag_sum_model(s, b, b);
  double d = std::sqrt(std::fabs(c_bb * c_aa));
  return c_ab / (d > 1e-100 ? d : 1e-100);
}

inline std::string formatted(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%-.9g", value);
  return text;
}

}  // namespace lagscan::fuzz
