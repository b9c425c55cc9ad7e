// What the tests of the public library share: seeded sequences, data files
// written so that the loader reads back the same bits, and a comparison of
// values to the bit that lets two NaNs of one sign agree.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace lagscan::testing {

inline std::vector<double> random_values(std::size_t n, std::uint64_t seed, double offset = 0.0) {
  std::mt19937_64 pick(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> values(n);
  for (double& v : values) v = offset + value(pick);
  return values;
}

// x y pairs, y with 17 significant digits: the loader's conversion gives
// back the very double.
inline void write_data_file(const std::filesystem::path& path, std::span<const double> values) {
  std::ofstream out(path, std::ios::binary);
  out << "' written by the library tests\n";
  char text[64];
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(text, sizeof text, "%zu %.17g\n", i, values[i]);
    out << text;
  }
}

// Equal to the bit; NaNs agree when both are NaN of the same sign (two
// routes may carry different payloads, which nothing prints).
inline bool same_bits(double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y) && std::signbit(x) == std::signbit(y);
  return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
}

inline std::string bits_text(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g (0x%016llx)", x,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(x)));
  return text;
}

}  // namespace lagscan::testing
