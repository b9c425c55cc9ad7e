// correlation() through the library against the computation lagscan itself
// runs (lag_correlation on real_arrays and a window made once), on the same
// values: n = 10^4 .. 10^6 at s = 101 and 1001. Then 10^4 calls on pairs of
// 1000 values each, through the library and straight to the kernels: the
// difference per call is the library's own cost (checks, window, frame).
//
//   build/bench/api/api_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "app/lag_correlation.h"
#include "lagscan/lagscan.hpp"

namespace {

std::vector<double> random_values(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 pick(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> values(n);
  for (double& v : values) v = value(pick);
  return values;
}

void fill(lagscan::real_array& array, const std::vector<double>& values) {
  array.reserve(static_cast<std::int64_t>(values.size()), false);
  for (double v : values) array.append(v);
}

void make_window(lagscan::real_array& w, std::int32_t s) {
  w.reserve(s, false);
  w.count = s;
  lagscan::make_triangle_window(w);
}

void library_correlation(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto s = static_cast<int>(state.range(1));
  const std::vector<double> a = random_values(n, 1);
  const std::vector<double> b = random_values(n, 2);
  for (auto _ : state) benchmark::DoNotOptimize(lagscan::correlation(a, b, s));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n) * s * 3);
}

void command_correlation(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto s = static_cast<std::int32_t>(state.range(1));
  lagscan::real_array a;
  lagscan::real_array b;
  fill(a, random_values(n, 1));
  fill(b, random_values(n, 2));
  lagscan::real_array w;
  make_window(w, s);
  for (auto _ : state) benchmark::DoNotOptimize(lagscan::lag_correlation(w, a, b));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n) * s * 3);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t n : {10000, 100000, 1000000}) {
    for (std::int64_t s : {101, 1001}) b->Args({n, s});
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(library_correlation)->Apply(sizes);
BENCHMARK(command_correlation)->Apply(sizes);

constexpr std::size_t small_pairs = 10000;
constexpr std::size_t small_n = 1000;

struct small_sets {
  small_sets() {
    for (std::size_t k = 0; k < 64; ++k) values.push_back(random_values(small_n, 100 + k));
  }
  std::vector<std::vector<double>> values;
};

// 10^4 calls per iteration; the time per call is the time shown / 10^4.
void library_small_pairs(benchmark::State& state) {
  const auto s = static_cast<int>(state.range(0));
  small_sets sets;
  for (auto _ : state) {
    for (std::size_t k = 0; k < small_pairs; ++k) {
      benchmark::DoNotOptimize(lagscan::correlation(sets.values[k % 64], sets.values[(k + 1) % 64], s));
    }
  }
  state.counters["per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(small_pairs),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void command_small_pairs(benchmark::State& state) {
  const auto s = static_cast<std::int32_t>(state.range(0));
  small_sets sets;
  std::vector<lagscan::real_array> arrays(64);
  for (std::size_t k = 0; k < 64; ++k) fill(arrays[k], sets.values[k]);
  lagscan::real_array w;
  make_window(w, s);
  for (auto _ : state) {
    for (std::size_t k = 0; k < small_pairs; ++k) {
      benchmark::DoNotOptimize(lagscan::lag_correlation(w, arrays[k % 64], arrays[(k + 1) % 64]));
    }
  }
  state.counters["per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(small_pairs),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(library_small_pairs)->Arg(1)->Arg(11)->Arg(101)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(command_small_pairs)->Arg(1)->Arg(11)->Arg(101)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
