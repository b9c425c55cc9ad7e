// --fast against the exact mode, and its Gram kernel against OpenBLAS (when
// the benchmark was built with it), at these sizes:
//
//   all pairs of 2000 sequences of 10^4 values at s = 1001 (all_pairs_fast,
//   and one cblas_dsyrk of the same window-sum matrix: 2000 x 10500);
//   one pair of 10^6 values at s = 10001 (exact and fast);
//   the Gram step alone on one tile of 256 x 256 rows of 10,050 window sums
//   (10^4 values at s = 101), on one thread: each path of our kernel, and
//   OpenBLAS's dgemm on the same operands. Counter products/s: one per
//   product of two window sums (a multiply and an add).
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
#include "matrix/gram.h"
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

// --- The Gram step alone, one tile on one thread ---------------------------

constexpr std::size_t tile_side = 256;
constexpr std::size_t tile_length = 10050;

struct tile_operands {
  std::vector<double> a, b, c;
  tile_operands() : a(tile_side * tile_length), b(tile_side * tile_length), c(tile_side * tile_side) {
    std::mt19937_64 rng(9);
    std::normal_distribution<double> normal;
    for (double& v : a) v = normal(rng);
    for (double& v : b) v = normal(rng);
  }
};

double tile_products() { return static_cast<double>(tile_side * tile_side * tile_length); }

void gram_tile(benchmark::State& state) {
  const auto path = static_cast<lag_path>(state.range(0));
  if (!lag_path_available(path)) {
    state.SkipWithError("the CPU lacks this path");
    return;
  }
  state.SetLabel(lag_path_name(path));
  static tile_operands t;
  std::vector<double> scratch(gram_scratch_size(tile_side, tile_side));
  const std::ptrdiff_t every_entry = -static_cast<std::ptrdiff_t>(tile_side);
  for (auto _ : state) {
    gram_on(path, {t.a.data(), tile_side, t.b.data(), tile_side, tile_length, every_entry}, t.c.data(), tile_side,
            scratch.data());
    benchmark::DoNotOptimize(t.c.data());
  }
  state.counters["products/s"] = benchmark::Counter(tile_products(), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(gram_tile)
    ->Arg(static_cast<int>(lag_path::sse2))
    ->Arg(static_cast<int>(lag_path::avx2))
    ->Arg(static_cast<int>(lag_path::avx512))
    ->Unit(benchmark::kMillisecond);

#ifdef LAGSCAN_HAVE_OPENBLAS
void blas_dgemm_tile(benchmark::State& state) {
  exact_thread_counts();
  openblas_set_num_threads(1);
  static tile_operands t;
  const auto k = static_cast<blasint>(tile_length);
  const auto m = static_cast<blasint>(tile_side);
  for (auto _ : state) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, m, k, 1.0, t.a.data(), k, t.b.data(), k, 0.0, t.c.data(),
                m);
    benchmark::DoNotOptimize(t.c.data());
  }
  state.counters["products/s"] = benchmark::Counter(tile_products(), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(blas_dgemm_tile)->Unit(benchmark::kMillisecond);
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
