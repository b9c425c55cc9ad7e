#include "matrix/fast_pairs.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>

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

// The side of the grid's tiles for a set of `files` files: `tile`, or the
// whole set when it is smaller.
std::size_t grid_side(std::size_t files) { return std::max<std::size_t>(1, std::min(tile, files)); }

// The rows of grid tile t (side rows from t * side) as one operand of a
// product: straight from the held rows when it holds them all, else a copy
// in `padding` with zeros in place of the rows it lacks.
const double* operand(const held_sums& held, std::size_t t, std::size_t side, double* padding) {
  const std::size_t length = held.sums->length;
  const std::size_t first = t * side;
  const std::size_t held_end = held.first + held.sums->own.size();
  if (first >= held.first && first + side <= held_end) {
    return held.sums->sums.data() + (first - held.first) * length;
  }
  std::fill(padding, padding + side * length, 0.0);
  const std::size_t from = std::max(first, held.first);
  const std::size_t to = std::min(first + side, held_end);
  for (std::size_t r = from; r < to; ++r) {
    std::copy_n(held.sums->sums.data() + (r - held.first) * length, length, padding + (r - first) * length);
  }
  return padding;
}

// c[i * side + j] = <row i of a, row j of b> for i, j < side; the blocked
// loop forms only the entries of `pairs` (the rest are not read).
//
// Every call has the same shape (side x side, the same length) and a file
// sits at the same place in it (its position modulo side) whichever rows a
// run holds: the BLAS may sum an entry differently with the shape of the
// product or the place of the entry in it, so this is what makes a pair's
// bits depend only on the positions of its two files, in one run, in row
// blocks or in tiles of blocks. A diagonal tile is a full product too (a
// rank-k update would sum its entries another way).
struct tile_pairs {
  std::size_t x0, x1, y0, y1;  // rows and columns in the tile
  std::size_t shift;           // entry (i, j) is wanted when j + shift > i
};

void tile_products(const double* a, const double* b, std::size_t side, std::size_t length, const tile_pairs& pairs,
                   double* c) {
#ifdef LAGSCAN_HAVE_OPENBLAS
  if (length == 0) {
    std::fill(c, c + side * side, 0.0);
    return;
  }
  // A vector holds at most 2n - 1 entries, and n stays below 2^29 (files
  // under 1 GiB): the BLAS's 32-bit sizes hold it.
  const auto k = static_cast<blasint>(length);
  const auto m = static_cast<blasint>(side);
  cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, m, k, 1.0, a, k, b, k, 0.0, c, m);
  (void)pairs;
#else
  for (std::size_t i = pairs.x0; i < pairs.x1; ++i) {
    for (std::size_t j = std::max(pairs.y0, i + 1 > pairs.shift ? i + 1 - pairs.shift : 0); j < pairs.y1; ++j) {
      c[i * side + j] = accurate_dot(a + i * length, b + j * length, length);
    }
  }
#endif
}

std::size_t overlap(std::size_t a0, std::size_t a1, std::size_t b0, std::size_t b1) {
  return std::min(a1, b1) > std::max(a0, b0) ? std::min(a1, b1) - std::max(a0, b0) : 0;
}

}  // namespace

bool fast_uses_blas() {
#ifdef LAGSCAN_HAVE_OPENBLAS
  return true;
#else
  return false;
#endif
}

std::uint64_t grid_pairs(const held_sums& a, const held_sums& b, std::size_t files, int threads,
                         progress_meter& meter, const std::function<void(std::size_t, std::size_t, double)>& put,
                         const std::function<bool(std::size_t, std::size_t)>& wanted) {
  const std::size_t side = grid_side(files);
  const std::size_t length = a.sums->length;
  const std::size_t a_end = a.first + a.sums->own.size();
  const std::size_t b_end = b.first + b.sums->own.size();
  // The pairs (x, y), x < y, x held by a and y by b, in each grid tile.
  auto pairs_in = [&](std::size_t ta, std::size_t tb) {
    std::uint64_t count = 0;
    const std::size_t x0 = std::max(ta * side, a.first), x1 = std::min(ta * side + side, a_end);
    const std::size_t y0 = std::max(tb * side, b.first), y1 = std::min(tb * side + side, b_end);
    for (std::size_t x = x0; x < x1; ++x) count += y1 > std::max(x + 1, y0) ? y1 - std::max(x + 1, y0) : 0;
    return count;
  };
  std::vector<std::pair<std::size_t, std::size_t>> tiles;
  std::uint64_t total = 0;
  const std::size_t grid = (files + side - 1) / side;
  for (std::size_t ta = 0; ta < grid; ++ta) {
    if (overlap(ta * side, ta * side + side, a.first, a_end) == 0) continue;
    for (std::size_t tb = ta; tb < grid; ++tb) {
      if (overlap(tb * side, tb * side + side, b.first, b_end) == 0 || !wanted(ta, tb)) continue;
      const std::uint64_t pairs = pairs_in(ta, tb);
      if (pairs == 0) continue;
      tiles.emplace_back(ta, tb);
      total += pairs;
    }
  }
  meter.start(total);
  const auto tile_count = static_cast<std::int64_t>(tiles.size());
  // Each thread's scratch is made here: a failure to get storage must not
  // be raised inside the parallel region. No more threads than tiles.
  const int team = static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, tile_count)));
  const std::size_t per_thread = side * side + 2 * side * length;
  std::vector<double> scratch(static_cast<std::size_t>(team) * per_thread);
#pragma omp parallel num_threads(team)
  {
    // Our threads take a tile each; the BLAS (its OpenMP build) runs each one
    // on the thread that calls it when that thread's task asks for one
    // thread. The setting belongs to the region's task, not to the caller's,
    // which keeps its own: --threads is the whole count, no result depends on
    // it, and a host of the library finds its thread count unchanged.
    omp_set_num_threads(1);
    double* products = scratch.data() + static_cast<std::size_t>(omp_get_thread_num()) * per_thread;
    double* padding_a = products + side * side;
    double* padding_b = padding_a + side * length;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t t = 0; t < tile_count; ++t) {
      if (meter.stopped()) continue;
      const auto [ta, tb] = tiles[static_cast<std::size_t>(t)];
      const std::size_t x0 = std::max(ta * side, a.first), x1 = std::min(ta * side + side, a_end);
      const std::size_t y0 = std::max(tb * side, b.first), y1 = std::min(tb * side + side, b_end);
      const tile_pairs in_tile{x0 - ta * side, x1 - ta * side, y0 - tb * side, y1 - tb * side, (tb - ta) * side};
      tile_products(operand(a, ta, side, padding_a), operand(b, tb, side, padding_b), side, length, in_tile,
                    products);
      for (std::size_t x = x0; x < x1; ++x) {
        for (std::size_t y = std::max(x + 1, y0); y < y1; ++y) {
          const double product = products[(x - ta * side) * side + (y - tb * side)];
          put(x, y, normalised_correlation(product, a.sums->own[x - a.first], b.sums->own[y - b.first]));
        }
      }
      meter.count(pairs_in(ta, tb));
    }
  }
  meter.finish();
  return total;
}

std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, bool shown) {
  shown_progress meter(shown);
  return all_pairs_fast(sums, rows, threads, meter);
}

std::vector<double> against_fast(const real_array& window, const real_array& reference, bool reference_outside,
                                 const std::vector<const real_array*>& sets, const std::vector<char>& outside,
                                 int threads, bool shown) {
  shown_progress meter(shown);
  return against_fast(window, reference, reference_outside, sets, outside, threads, meter);
}

std::vector<double> all_pairs_fast(const window_sum_rows& sums, row_range rows, int threads, progress_meter& meter) {
  const std::size_t n = sums.own.size();
  std::vector<double> values(rows.size() * n);
  for (std::size_t i = rows.first; i < rows.end; ++i) {
    values[(i - rows.first) * n + i] = normalised_correlation(sums.own[i], sums.own[i], sums.own[i]);
  }
  if (rows.size() == 0) return values;
  const std::size_t side = grid_side(n);
  const std::size_t first = rows.first / side, last = (rows.end - 1) / side;
  auto holds_row = [&](std::size_t ta, std::size_t tb) {
    return (ta >= first && ta <= last) || (tb >= first && tb <= last);
  };
  // Different pairs land in different places, so no two threads write one.
  auto put = [&](std::size_t a, std::size_t b, double value) {
    if (rows.holds(a)) values[(a - rows.first) * n + b] = value;
    if (rows.holds(b)) values[(b - rows.first) * n + a] = value;
  };
  const held_sums all{&sums, 0};
  grid_pairs(all, all, n, threads, meter, put, holds_row);
  return values;
}

std::vector<char> outside_fast_domain(const real_array& window, const std::vector<const real_array*>& sets,
                                      int threads) {
  const std::int64_t h = half_width(window);
  std::vector<char> outside(sets.size());
  const auto count = static_cast<std::int64_t>(sets.size());
#pragma omp parallel num_threads(threads)
  {
    std::vector<double> magnitudes;
    std::vector<double> sums;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t k = 0; k < count; ++k) {
      const real_array& x = *sets[static_cast<std::size_t>(k)];
      const auto n = static_cast<std::size_t>(x.count);
      magnitudes.resize(n);
      for (std::size_t i = 0; i < n; ++i) magnitudes[i] = std::fabs(x.buffer[i]);
      sums.resize(window_sum_length(x.count, h));
      window_sums(magnitudes.data(), x.count, h, sums.data());
      // A nan (from a nan value) fails the test as an inf does.
      outside[static_cast<std::size_t>(k)] = !std::isfinite(accurate_dot(sums.data(), sums.data(), sums.size()));
    }
  }
  return outside;
}

void exact_pairs_outside_domain(const real_array& window, const std::vector<const real_array*>& sets,
                                const std::vector<char>& outside, row_range rows, std::vector<double>& values,
                                int threads) {
  const std::size_t n = sets.size();
  // Each pair (a < b) with a set outside and a row in the block, once.
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  std::vector<char> needed(n);
  for (std::size_t f = 0; f < n; ++f) {
    if (!outside[f]) continue;
    for (std::size_t g = 0; g < n; ++g) {
      if (g == f || (outside[g] && g < f) || !(rows.holds(f) || rows.holds(g))) continue;
      pairs.emplace_back(std::min(f, g), std::max(f, g));
      needed[f] = needed[g] = 1;
    }
    if (rows.holds(f)) needed[f] = 1;
  }
  std::vector<double> own(n);
  const auto count = static_cast<std::int64_t>(n);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t k = 0; k < count; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (needed[i]) own[i] = lag_product_sum(window, *sets[i], *sets[i]);
  }
  for (std::size_t f = rows.first; f < rows.end; ++f) {
    if (outside[f]) values[(f - rows.first) * n + f] = normalised_correlation(own[f], own[f], own[f]);
  }
  const auto pair_count = static_cast<std::int64_t>(pairs.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t k = 0; k < pair_count; ++k) {
    const auto [a, b] = pairs[static_cast<std::size_t>(k)];
    const double value = normalised_correlation(lag_product_sum(window, *sets[a], *sets[b]), own[a], own[b]);
    if (rows.holds(a)) values[(a - rows.first) * n + b] = value;
    if (rows.holds(b)) values[(b - rows.first) * n + a] = value;
  }
}

std::vector<double> against_fast(const real_array& window, const real_array& reference, bool reference_outside,
                                 const std::vector<const real_array*>& sets, const std::vector<char>& outside,
                                 int threads, progress_meter& meter) {
  if (reference_outside) return against(window, reference, sets, threads, meter);
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
  if (meter.stopped()) return values;
  std::vector<const real_array*> exact_sets;
  for (std::size_t j = 0; j < sets.size(); ++j) {
    if (outside[j]) exact_sets.push_back(sets[j]);
  }
  if (exact_sets.empty()) return values;
  const std::vector<double> exact = against(window, reference, exact_sets, threads, false);
  for (std::size_t j = 0, k = 0; j < sets.size(); ++j) {
    if (outside[j]) values[j] = exact[k++];
  }
  return values;
}

}  // namespace lagscan::matrix
