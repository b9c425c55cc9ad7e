#include "matrix/fast_pairs.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>

#include "app/lag_correlation.h"
#include "matrix/progress.h"
#include "matrix/window_sums.h"

#ifdef LAGSCAN_HAVE_OPENBLAS
#include <cblas.h>
#endif

namespace lagscan::matrix {
namespace {

// Files a side of a tile: large enough that the BLAS runs near its full
// rate on a tile, small enough that a set of a few thousand files makes
// tiles for every thread.
constexpr std::size_t tile = 256;

std::int64_t half_width(const real_array& window) { return window.count >> 1; }

}  // namespace

window_sum_rows make_window_sum_rows(const real_array& window, const std::vector<const real_array*>& sets,
                                     int threads) {
  const std::int64_t h = half_width(window);
  window_sum_rows rows;
  const std::int64_t n = sets.empty() ? 0 : sets[0]->count;
  rows.length = window_sum_length(n, h);
  rows.sums.resize(sets.size() * rows.length);
  rows.own.resize(sets.size());
  const auto count = static_cast<std::int64_t>(sets.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t i = 0; i < count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    double* row = rows.sums.data() + k * rows.length;
    window_sums(sets[k]->buffer, n, h, row);
    rows.own[k] = accurate_dot(row, row, rows.length);
  }
  return rows;
}

namespace {

// c[i * tile + j] = <row a0 + i, row b0 + j> for i < ma, j < mb; on a tile
// of the diagonal (a0 == b0) only for j > i.
void tile_products(const window_sum_rows& rows, std::size_t a0, std::size_t ma, std::size_t b0, std::size_t mb,
                   double* c) {
  const std::size_t length = rows.length;
  const double* a = rows.sums.data() + a0 * length;
  const double* b = rows.sums.data() + b0 * length;
#ifdef LAGSCAN_HAVE_OPENBLAS
  if (length == 0) {
    std::fill(c, c + tile * tile, 0.0);
    return;
  }
  // A vector holds at most 2n - 1 entries, and n stays below 2^29 (files
  // under 1 GiB): the BLAS's 32-bit sizes hold it.
  const auto k = static_cast<blasint>(length);
  const auto lda = static_cast<blasint>(length);
  const auto ldc = static_cast<blasint>(tile);
  if (a0 == b0) {
    cblas_dsyrk(CblasRowMajor, CblasUpper, CblasNoTrans, static_cast<blasint>(ma), k, 1.0, a, lda, 0.0, c, ldc);
  } else {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<blasint>(ma), static_cast<blasint>(mb), k, 1.0,
                a, lda, b, lda, 0.0, c, ldc);
  }
#else
  for (std::size_t i = 0; i < ma; ++i) {
    for (std::size_t j = a0 == b0 ? i + 1 : 0; j < mb; ++j) {
      c[i * tile + j] = accurate_dot(a + i * length, b + j * length, length);
    }
  }
#endif
}

// The tiles (ta <= tb) that hold a pair with a row of the block.
std::vector<std::pair<std::size_t, std::size_t>> tiles_for(row_range rows, std::size_t n) {
  std::vector<std::pair<std::size_t, std::size_t>> tiles;
  if (rows.size() == 0) return tiles;
  const std::size_t side = (n + tile - 1) / tile;
  const std::size_t first = rows.first / tile;
  const std::size_t last = (rows.end - 1) / tile;
  for (std::size_t ta = 0; ta < side; ++ta) {
    for (std::size_t tb = ta; tb < side; ++tb) {
      bool needed = (ta >= first && ta <= last) || (tb >= first && tb <= last);
      if (needed) tiles.emplace_back(ta, tb);
    }
  }
  return tiles;
}

std::uint64_t pairs_of_tile(std::size_t ma, std::size_t mb, bool diagonal) {
  return diagonal ? ma * (ma - 1) / 2 : ma * mb;
}

}  // namespace

bool fast_uses_blas() {
#ifdef LAGSCAN_HAVE_OPENBLAS
  return true;
#else
  return false;
#endif
}

std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, bool shown) {
  shown_progress meter(shown);
  return all_pairs_fast(sums, rows, threads, meter);
}

std::vector<double> against_fast(const real_array& window, const real_array& reference,
                                 const std::vector<const real_array*>& sets, int threads, bool shown) {
  shown_progress meter(shown);
  return against_fast(window, reference, sets, threads, meter);
}

std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, progress_meter& meter) {
  const std::size_t n = sums.own.size();
  const auto tiles = tiles_for(rows, n);
  auto extent = [n](std::size_t t) { return std::min(tile, n - t * tile); };
  std::uint64_t total = 0;
  for (auto [ta, tb] : tiles) total += pairs_of_tile(extent(ta), extent(tb), ta == tb);
  meter.start(total);

  std::vector<double> values(rows.size() * n);
  for (std::size_t i = rows.first; i < rows.end; ++i) {
    values[(i - rows.first) * n + i] = normalised_correlation(sums.own[i], sums.own[i], sums.own[i]);
  }
  const auto tile_count = static_cast<std::int64_t>(tiles.size());
  // Each thread's scratch is made here: a failure to get storage must not
  // be raised inside the parallel region.
  // No more threads than tiles.
  const int team = static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, tile_count)));
  std::vector<double> scratch(static_cast<std::size_t>(team) * tile * tile);
#pragma omp parallel num_threads(team)
  {
    // Our threads take a tile each; the BLAS (its OpenMP build) runs each one
    // on the thread that calls it when that thread's task asks for one
    // thread. The setting belongs to the region's task, not to the caller's,
    // which keeps its own: --threads is the whole count, no result depends on
    // it, and a host of the library finds its thread count unchanged.
    omp_set_num_threads(1);
    double* products = scratch.data() + static_cast<std::size_t>(omp_get_thread_num()) * tile * tile;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t t = 0; t < tile_count; ++t) {
      if (meter.stopped()) continue;
      const auto [ta, tb] = tiles[static_cast<std::size_t>(t)];
      const std::size_t a0 = ta * tile, ma = extent(ta), b0 = tb * tile, mb = extent(tb);
      tile_products(sums, a0, ma, b0, mb, products);
      // Different tiles hold different pairs, so no two threads write one place.
      for (std::size_t i = 0; i < ma; ++i) {
        for (std::size_t j = ta == tb ? i + 1 : 0; j < mb; ++j) {
          const std::size_t a = a0 + i;
          const std::size_t b = b0 + j;
          double value = normalised_correlation(products[i * tile + j], sums.own[a], sums.own[b]);
          if (rows.holds(a)) values[(a - rows.first) * n + b] = value;
          if (rows.holds(b)) values[(b - rows.first) * n + a] = value;
        }
      }
      meter.count(pairs_of_tile(ma, mb, ta == tb));
    }
  }
  meter.finish();
  return values;
}

std::vector<double> against_fast(const real_array& window, const real_array& reference,
                                 const std::vector<const real_array*>& sets, int threads, progress_meter& meter) {
  const std::int64_t h = half_width(window);
  const std::size_t length = window_sum_length(reference.count, h);
  std::vector<double> reference_sums(length);
  window_sums(reference.buffer, reference.count, h, reference_sums.data());
  const double own_reference = accurate_dot(reference_sums.data(), reference_sums.data(), length);
  meter.start(sets.size());
  std::vector<double> values(sets.size());
  const auto count = static_cast<std::int64_t>(sets.size());
  const int team = static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, count)));
  std::vector<double> scratch(static_cast<std::size_t>(team) * length);
#pragma omp parallel num_threads(team)
  {
    double* sums = scratch.data() + static_cast<std::size_t>(omp_get_thread_num()) * length;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t j = 0; j < count; ++j) {
      if (meter.stopped()) continue;
      const real_array& b = *sets[static_cast<std::size_t>(j)];
      window_sums(b.buffer, b.count, h, sums);
      double c_ab = accurate_dot(reference_sums.data(), sums, length);
      double c_bb = accurate_dot(sums, sums, length);
      values[static_cast<std::size_t>(j)] = normalised_correlation(c_ab, own_reference, c_bb);
      meter.count_one();
    }
  }
  meter.finish();
  return values;
}

}  // namespace lagscan::matrix
