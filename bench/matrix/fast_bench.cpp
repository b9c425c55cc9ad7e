// --fast against the exact mode and against the BLAS's own rank-k update,
// at the sizes of the targets:
//
//   all pairs of 2000 sequences of 10^4 values at s = 1001 (all_pairs_fast,
//   and one cblas_dsyrk of the same window-sum matrix: 2000 x 10500);
//   one pair of 10^6 values at s = 10001 (exact and fast).
//
// Counter flop/s: two per product of window sums (a multiply and an add), so
// the figures of the rank-k update and of all_pairs_fast compare directly.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdint>
#include <random>
#include <vector>

#include "app/lag_correlation.h"
#include "matrix/fast_pairs.h"
#include "matrix/similarity.h"
#include "matrix/window_sums.h"

#ifdef LAGSCAN_HAVE_OPENBLAS
#include <cblas.h>
#endif

namespace {

using namespace lagscan;
using namespace lagscan::matrix;

constexpr std::int64_t set_count = 2000;
constexpr std::int64_t set_length = 10000;
constexpr std::int32_t set_width = 1001;

void fill_random(real_array& a, std::int64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  a.reserve(static_cast<std::int32_t>(n), false);
  for (std::int64_t i = 0; i < n; ++i) a.append(normal(rng));
}

void window_of(real_array& w, std::int32_t s) {
  w.reserve(s, false);
  w.count = s;
  make_triangle_window(w);
}

struct random_sets {
  std::vector<real_array> arrays;
  std::vector<const real_array*> pointers;
  random_sets(std::int64_t count, std::int64_t n) : arrays(static_cast<std::size_t>(count)) {
    for (std::size_t i = 0; i < arrays.size(); ++i) {
      fill_random(arrays[i], n, i + 1);
      pointers.push_back(&arrays[i]);
    }
  }
};

double gram_flops(std::int64_t count, std::size_t length) {
  return static_cast<double>(count) * static_cast<double>(count + 1) * static_cast<double>(length);
}

// The library lets the OpenMP runtime choose fewer threads on a busy
// machine; lagscan-matrix turns that off, and so do the benchmarks (the
// BLAS's own threads wait for a team of the size it asked for).
void exact_thread_counts() { omp_set_dynamic(0); }

void all_pairs_through_window_sums(benchmark::State& state) {
  exact_thread_counts();
  const int threads = static_cast<int>(state.range(0));
  static const random_sets sets(set_count, set_length);
  real_array w;
  window_of(w, set_width);
  for (auto _ : state) {
    auto values = all_pairs_fast(make_window_sum_rows(w, sets.pointers, threads), {0, sets.pointers.size()}, threads,
                                 false);
    benchmark::DoNotOptimize(values.data());
  }
  state.counters["flop/s"] = benchmark::Counter(gram_flops(set_count, window_sum_length(set_length, set_width / 2)),
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(all_pairs_through_window_sums)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef LAGSCAN_HAVE_OPENBLAS
// The BLAS alone: one rank-k update of the 2000 window-sum rows, on its own
// threads.
void blas_rank_k_update(benchmark::State& state) {
  exact_thread_counts();
  const int threads = static_cast<int>(state.range(0));
  const std::size_t length = window_sum_length(set_length, set_width / 2);
  std::vector<double> rows(static_cast<std::size_t>(set_count) * length);
  std::mt19937_64 rng(3);
  std::normal_distribution<double> normal;
  for (double& v : rows) v = normal(rng);
  std::vector<double> c(static_cast<std::size_t>(set_count * set_count));
  openblas_set_num_threads(threads);
  for (auto _ : state) {
    cblas_dsyrk(CblasRowMajor, CblasUpper, CblasNoTrans, static_cast<blasint>(set_count),
                static_cast<blasint>(length), 1.0, rows.data(), static_cast<blasint>(length), 0.0, c.data(),
                static_cast<blasint>(set_count));
    benchmark::DoNotOptimize(c.data());
  }
  state.counters["flop/s"] =
      benchmark::Counter(gram_flops(set_count, length), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(blas_rank_k_update)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// One pair of 10^6 values at s = 10001: the three lag sums of the exact mode,
// and the window sums of both with three inner products.
constexpr std::int64_t pair_length = 1000000;
constexpr std::int32_t pair_width = 10001;

void one_pair_exact(benchmark::State& state) {
  real_array a, b, w;
  fill_random(a, pair_length, 1);
  fill_random(b, pair_length, 2);
  window_of(w, pair_width);
  for (auto _ : state) benchmark::DoNotOptimize(lag_correlation(w, a, b));
}
BENCHMARK(one_pair_exact)->Unit(benchmark::kMillisecond);

void one_pair_fast(benchmark::State& state) {
  real_array a, b, w;
  fill_random(a, pair_length, 1);
  fill_random(b, pair_length, 2);
  window_of(w, pair_width);
  const std::int64_t h = pair_width / 2;
  const std::size_t length = window_sum_length(pair_length, h);
  std::vector<double> as(length), bs(length);
  for (auto _ : state) {
    window_sums(a.buffer, pair_length, h, as.data());
    window_sums(b.buffer, pair_length, h, bs.data());
    double c_ab = accurate_dot(as.data(), bs.data(), length);
    double c_aa = accurate_dot(as.data(), as.data(), length);
    double c_bb = accurate_dot(bs.data(), bs.data(), length);
    benchmark::DoNotOptimize(normalised_correlation(c_ab, c_aa, c_bb));
  }
}
BENCHMARK(one_pair_fast)->Unit(benchmark::kMillisecond);

}  // namespace
