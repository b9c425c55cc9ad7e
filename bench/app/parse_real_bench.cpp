// parse_real against strtod on values printed with "%.17g", as data files
// written by programs that keep every bit hold them.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "streams/parse_real.h"

namespace {

struct tokens {
  std::vector<std::string> texts;
  std::int64_t bytes = 0;
};

// Normally distributed values, like measured signals, and values spread over
// the whole exponent range.
const tokens& sample(bool whole_range) {
  static tokens by_range[2];
  tokens& t = by_range[whole_range ? 1 : 0];
  if (t.texts.empty()) {
    std::mt19937_64 rng(9);
    std::normal_distribution<double> normal;
    char text[40];
    while (t.texts.size() < 100000) {
      double value = whole_range ? std::bit_cast<double>(rng()) : normal(rng);
      if (!std::isfinite(value)) continue;
      std::snprintf(text, sizeof text, "%.17g", value);
      t.texts.emplace_back(text);
      t.bytes += static_cast<std::int64_t>(t.texts.back().size());
    }
  }
  return t;
}

template <class Convert>
void convert_all(benchmark::State& state, bool whole_range, Convert convert) {
  const tokens& t = sample(whole_range);
  for (auto _ : state) {
    double sum = 0.0;
    for (const std::string& text : t.texts) sum += convert(text);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.texts.size()));
  state.SetBytesProcessed(state.iterations() * t.bytes);
}

void strtod_on(benchmark::State& state, bool whole_range) {
  convert_all(state, whole_range, [](const std::string& text) { return std::strtod(text.c_str(), nullptr); });
}

void parse_real_on(benchmark::State& state, bool whole_range) {
  convert_all(state, whole_range, [](const std::string& text) {
    return lagscan::parse_real(text.c_str(), static_cast<std::int32_t>(text.size()));
  });
}

void parse_real_unsized_on(benchmark::State& state, bool whole_range) {
  convert_all(state, whole_range, [](const std::string& text) { return lagscan::parse_real(text.c_str()); });
}

BENCHMARK_CAPTURE(strtod_on, normal, false);
BENCHMARK_CAPTURE(parse_real_on, normal, false);
BENCHMARK_CAPTURE(parse_real_unsized_on, normal, false);
BENCHMARK_CAPTURE(strtod_on, whole_range, true);
BENCHMARK_CAPTURE(parse_real_on, whole_range, true);

}  // namespace
