// The body shared by the shifted_sums_<isa>.cpp sources. Each source defines
// its vector operations and the kinds of blocks it sweeps, and calls
// shifted_sums_in with them.
//
// Everything here sits in an unnamed namespace and calls no inline function
// of the standard library: each source is compiled for its own instruction
// set, and an inline function with external linkage could be merged by the
// linker with a copy built for a wider set, which would then run on CPUs
// without it. (tests/app/check_kernel_objects guards this.)
//
// A vector operations type V provides:
//   acc, xs          the partial sums p0..p3 of V::lags_per_acc lags, and
//                    four consecutive values of a laid out to match them
//   first_lag(g)     the first lag of accumulator g in a block; with two lags
//                    per accumulator the second is first_lag(g) + 4
//   load, store      accumulator g from and to the lane table (4 per lag)
//   load_x(a)        a[0..3]
//   step(s, x, b)    s + x * b[0..], a multiply and then an add
// and, for sweep_block_tiled,
//   bs, load_b(b)    the b values one accumulator takes at one step
//   add_product(s, x, r)  step with those values already loaded
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "app/shifted_sums.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace lagscan {
namespace {

// Elements of a and b that every block of a pass sweeps before the next
// chunk: small enough for both to stay in the first-level cache, so that a
// pass reads the sequences from memory once instead of once per block.
constexpr std::int64_t chunk_elements = 512;

using sweep_fn = void (*)(const double* a, const double* b, std::int64_t k_begin, std::int64_t k_end,
                          double* lanes);

// Adds the products for k_begin <= k < k_end (multiples of four) to the
// partial sums of the block's lags, whose rows start at lanes; b points at
// the block's first lag.
template <class V, std::size_t G>
void sweep_block(const double* a, const double* b, std::int64_t k_begin, std::int64_t k_end,
                 double* lanes) {
  typename V::acc acc[G];
#pragma GCC unroll 32
  for (std::size_t g = 0; g < G; ++g) acc[g] = V::load(lanes, g);
  for (std::int64_t k = k_begin; k < k_end; k += 4) {
    typename V::xs x = V::load_x(a + k);
#pragma GCC unroll 32
    for (std::size_t g = 0; g < G; ++g) acc[g] = V::step(acc[g], x, b + k + V::first_lag(g));
  }
#pragma GCC unroll 32
  for (std::size_t g = 0; g < G; ++g) V::store(lanes, g, acc[g]);
}

// One run of b, at offset 4t + r of the tile, taken by every accumulator
// that reads it: accumulator g at its step t - first_lag(g) / 4.
template <class V, std::size_t G, std::size_t U, std::size_t t, std::size_t r, std::size_t g>
[[gnu::always_inline]] inline void take_run(typename V::acc (&acc)[G], const typename V::xs (&x)[U],
                                            typename V::bs run) {
  constexpr std::size_t lag = V::first_lag(g);
  if constexpr (lag % 4 == r && lag / 4 <= t && t - lag / 4 < U) acc[g] = V::add_product(acc[g], x[t - lag / 4], run);
}

template <class V, std::size_t G, std::size_t U, std::size_t i, std::size_t... g>
[[gnu::always_inline]] inline void load_run(const double* b, typename V::acc (&acc)[G],
                                            const typename V::xs (&x)[U], std::index_sequence<g...>) {
  typename V::bs run = V::load_b(b + i);
  (take_run<V, G, U, i / 4, i % 4, g>(acc, x, run), ...);
}

// U steps of the G accumulators from k, the runs of b in increasing offset.
template <class V, std::size_t G, std::size_t U, std::size_t... i>
[[gnu::always_inline]] inline void tile(const double* a, const double* b, std::int64_t k, typename V::acc (&acc)[G],
                                        std::index_sequence<i...>) {
  typename V::xs x[U];
#pragma GCC unroll 32
  for (std::size_t u = 0; u < U; ++u) x[u] = V::load_x(a + k + 4 * u);
  (load_run<V, G, U, i>(b + k, acc, x, std::make_index_sequence<G>()), ...);
}

// sweep_block over U steps at a time, for vector types whose accumulator g
// at step k reads b[k + first_lag(g) ...]: accumulator g at step k + 4u then
// reads from offset first_lag(g) + 4u, which other accumulators read at
// other steps. Each such run of b is loaded once per U steps and taken by
// every accumulator that needs it, in the order of the offsets; every
// accumulator still takes its own steps in increasing k. Fewer loads per
// multiply-add leave the load ports to the arithmetic.
template <class V, std::size_t G, std::size_t U>
void sweep_block_tiled(const double* a, const double* b, std::int64_t k_begin, std::int64_t k_end,
                       double* lanes) {
  constexpr std::size_t runs = 4 * (V::first_lag(G - 1) / 4 + U);
  constexpr auto tile_elements = static_cast<std::int64_t>(4 * U);
  typename V::acc acc[G];
#pragma GCC unroll 32
  for (std::size_t g = 0; g < G; ++g) acc[g] = V::load(lanes, g);
  std::int64_t k = k_begin;
  for (; k + tile_elements <= k_end; k += tile_elements) tile<V, G, U>(a, b, k, acc, std::make_index_sequence<runs>());
  for (; k < k_end; k += 4) {
    typename V::xs x = V::load_x(a + k);
#pragma GCC unroll 32
    for (std::size_t g = 0; g < G; ++g) acc[g] = V::step(acc[g], x, b + k + V::first_lag(g));
  }
#pragma GCC unroll 32
  for (std::size_t g = 0; g < G; ++g) V::store(lanes, g, acc[g]);
}

// sweep_block<V, count> for count = 1 .. sizeof...(g).
template <class V, std::size_t... g>
sweep_fn sweep_for(std::int32_t count, std::index_sequence<g...>) {
  static constexpr sweep_fn by_count[] = {&sweep_block<V, g + 1>...};
  return by_count[count - 1];
}

// Completes one lag of length products from its partial sums p after step
// k: the groups of four its block did not share, the combination, then the
// rest one by one. These are the operations each vector lane performs, in
// the same order, so the lanes and this tail agree to the bit.
double finish_lag(const double* p, const double* a, const double* b, std::int64_t k, std::int64_t length) {
  double p0 = p[0], p1 = p[1], p2 = p[2], p3 = p[3];
  for (; k + 4 <= length; k += 4) {
    p0 += a[k] * b[k];
    p1 += a[k + 1] * b[k + 1];
    p2 += a[k + 2] * b[k + 2];
    p3 += a[k + 3] * b[k + 3];
  }
  double sum = (p0 + p2) + (p1 + p3);
  for (; k < length; ++k) sum += a[k] * b[k];
  return sum;
}

// A run of lags swept together; k_end is where the shortest of them runs out
// of whole groups of four.
struct lag_block {
  sweep_fn sweep;
  std::int32_t first;
  std::int32_t lags;
  std::int64_t k_end;
};

// A kind of block: its sweep and the lags it takes.
struct block_kind {
  sweep_fn sweep;
  std::int32_t lags;
};

template <class V, std::size_t G>
constexpr block_kind plain_blocks() {
  return {&sweep_block<V, G>, static_cast<std::int32_t>(G) * V::lags_per_acc};
}

template <class V, std::size_t G, std::size_t U>
constexpr block_kind tiled_blocks() {
  return {&sweep_block_tiled<V, G, U>, static_cast<std::int32_t>(G) * V::lags_per_acc};
}

// The shifted sums in blocks of each kind in turn, as many of each as fit,
// then one block of N for the fewer than narrow_accs lags left. The last
// kind must be plain_blocks<N, narrow_accs>.
template <class N, std::size_t narrow_accs, std::size_t kind_count>
void shifted_sums_in(const block_kind (&kinds)[kind_count], const double* a, const double* b, std::int64_t n,
                     std::int64_t first, std::int32_t count, double* sums) {
  static_assert(N::lags_per_acc == 1, "the last lags need one accumulator each");
  constexpr std::size_t max_blocks = lags_per_pass / narrow_accs + kind_count + 1;
  assert(kinds[kind_count - 1].lags == static_cast<std::int32_t>(narrow_accs) && "the narrowest kind comes last");
  assert(count <= lags_per_pass && first + count <= n && "a pass of lags that all overlap");
  if (count <= 0) return;

  alignas(64) double lanes[lags_per_pass * 4];
  for (std::int32_t i = 0; i < count * 4; ++i) lanes[i] = 0.0;

  lag_block blocks[max_blocks];
  int block_count = 0;
  std::int32_t next = 0;
  auto add_block = [&](sweep_fn sweep, std::int32_t lags) {
    std::int64_t shortest = n - (first + next + lags - 1);
    blocks[block_count++] = {sweep, next, lags, shortest - shortest % 4};
    next += lags;
  };
  for (const block_kind& kind : kinds) {
    while (count - next >= kind.lags) add_block(kind.sweep, kind.lags);
  }
  if (count > next) {
    add_block(sweep_for<N>(count - next, std::make_index_sequence<narrow_accs - 1>()), count - next);
  }

  // Blocks come in increasing lag order, so their k_end never rises.
  for (std::int64_t k0 = 0; k0 < blocks[0].k_end; k0 += chunk_elements) {
    for (int i = 0; i < block_count && k0 < blocks[i].k_end; ++i) {
      const lag_block& block = blocks[i];
      std::int64_t k1 = k0 + chunk_elements < block.k_end ? k0 + chunk_elements : block.k_end;
      block.sweep(a, b + first + block.first, k0, k1, lanes + 4 * block.first);
    }
  }
  for (int i = 0; i < block_count; ++i) {
    const lag_block& block = blocks[i];
    for (std::int32_t j = block.first; j < block.first + block.lags; ++j) {
      sums[j] = finish_lag(lanes + 4 * j, a, b + first + j, block.k_end, n - first - j);
    }
  }
}

#if defined(__AVX2__)
// One lag per 256-bit register: lanes p0..p3.
struct avx2_lanes {
  using acc = __m256d;
  using xs = __m256d;
  static constexpr std::int32_t lags_per_acc = 1;
  static constexpr std::size_t first_lag(std::size_t g) { return g; }
  static acc load(const double* lanes, std::size_t g) { return _mm256_load_pd(lanes + 4 * g); }
  static void store(double* lanes, std::size_t g, acc s) { _mm256_store_pd(lanes + 4 * g, s); }
  static xs load_x(const double* a) { return _mm256_loadu_pd(a); }
  static acc step(acc s, xs x, const double* b) { return _mm256_add_pd(s, _mm256_mul_pd(x, _mm256_loadu_pd(b))); }
};
#endif

}  // namespace
}  // namespace lagscan
