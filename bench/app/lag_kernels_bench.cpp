// The lag sums on every path at the sizes of the command's typical runs.
// The counter madds/s is multiply-adds per second: one per product of an
// overlapping lag.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "app/lag_correlation.h"
#include "app/lag_kernels.h"

namespace {

using namespace lagscan;

void fill_random(real_array& a, std::int64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  a.reserve(n, false);
  for (std::int64_t i = 0; i < n; ++i) a.append(normal(rng));
}

double multiply_adds(std::int64_t n, std::int64_t s) {
  std::int64_t reach = std::min(s / 2, n - 1);
  return static_cast<double>(n * (2 * reach + 1) - reach * (reach + 1));
}

void lag_product_sum_on_path(benchmark::State& state, lag_path path) {
  if (!lag_path_available(path)) {
    state.SkipWithError("this CPU lacks the path");
    return;
  }
  std::int64_t n = state.range(0);
  auto s = static_cast<std::int32_t>(state.range(1));
  real_array x, y, w;
  fill_random(x, n, 1);
  fill_random(y, n, 2);
  w.reserve(s, false);
  w.count = s;
  make_triangle_window(w);
  for (auto _ : state) benchmark::DoNotOptimize(lag_product_sum_on(path, w, x, y));
  state.counters["madds/s"] = benchmark::Counter(multiply_adds(n, s), benchmark::Counter::kIsIterationInvariantRate);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({1000000, 1})->Args({1000000, 33})->Args({1000000, 101})->Args({1000000, 301})->Args({1000000, 1001});
  b->Args({1000000, 10001});
  b->Args({1000, 1001})->Args({300, 601});
  b->Args({10000, 101});  // one pair of lagscan-matrix's benchmark (bench/run-matrix)
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(lag_product_sum_on_path, reference, lag_path::reference)->Apply(sizes);
BENCHMARK_CAPTURE(lag_product_sum_on_path, sse2, lag_path::sse2)->Apply(sizes);
BENCHMARK_CAPTURE(lag_product_sum_on_path, avx2, lag_path::avx2)->Apply(sizes);
BENCHMARK_CAPTURE(lag_product_sum_on_path, avx512, lag_path::avx512)->Apply(sizes);

}  // namespace
