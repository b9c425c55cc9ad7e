#include "matrix/fast_pairs.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>

#include "app/lag_correlation.h"
#include "matrix/gram.h"
#include "matrix/progress.h"
#include "matrix/window_sums.h"
#include "runtime/region_failure.h"


namespace lagscan::matrix {
namespace {

// Files a side of a tile: large enough that the Gram kernel packs each
// operand's rows seldom, small enough that a set of a thousand files makes
// tiles for every thread. A smaller set is cut in tiles of down to
// smallest_tile files, so that every thread has some.
constexpr std::size_t tile = 256;
constexpr std::size_t smallest_tile = 64;

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
  region_failure failure;
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t i = 0; i < count; ++i) {
    failure.run([&] {
      const auto k = static_cast<std::size_t>(i);
      double* row = rows.sums.data() + k * rows.length;
      window_sums(sets[k]->buffer, n, h, row);
      rows.own[k] = accurate_dot(row, row, rows.length);
    });
  }
  failure.raise();
  return rows;
}

namespace {

std::size_t overlap(std::size_t a0, std::size_t a1, std::size_t b0, std::size_t b1) {
  return std::min(a1, b1) > std::max(a0, b0) ? std::min(a1, b1) - std::max(a0, b0) : 0;
}

}  // namespace

std::size_t grid_side(std::size_t files, int threads) {
  // Halved while the tiles (the upper triangle of the grid) are too few to
  // share among the threads; a smaller tile packs its operands more often,
  // so one thread keeps the largest.
  std::size_t side = tile;
  auto tiles = [&](std::size_t s) {
    const std::size_t grid = (files + s - 1) / s;
    return grid * (grid + 1) / 2;
  };
  while (threads > 1 && side > smallest_tile && tiles(side) < 3 * static_cast<std::size_t>(threads)) side /= 2;
  return side;
}

std::uint64_t grid_pairs(const held_sums& a, const held_sums& b, std::size_t files, int threads,
                         progress_meter& meter, const std::function<void(std::size_t, std::size_t, double)>& put,
                         const std::function<bool(std::size_t, std::size_t)>& wanted) {
  const std::size_t side = grid_side(files, threads);
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
  // Each thread's scratch is made here, before the region. No more threads
  // than tiles.
  const int team = static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, tile_count)));
  const std::size_t per_thread = side * side + gram_scratch_size(side, side);
  std::vector<double> scratch(static_cast<std::size_t>(team) * per_thread);
  region_failure failure;
#pragma omp parallel num_threads(team)
  {
    double* products = scratch.data() + static_cast<std::size_t>(omp_get_thread_num()) * per_thread;
    double* kernel_scratch = products + side * side;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t t = 0; t < tile_count; ++t) {
      if (meter.stopped()) continue;
      failure.run([&] {
        const auto [ta, tb] = tiles[static_cast<std::size_t>(t)];
        const std::size_t x0 = std::max(ta * side, a.first), x1 = std::min(ta * side + side, a_end);
        const std::size_t y0 = std::max(tb * side, b.first), y1 = std::min(tb * side + side, b_end);
        const std::size_t width = y1 - y0;
        // Entry (i, j) is the pair (x0 + i, y0 + j), wanted when y > x.
        const gram_block block{a.sums->sums.data() + (x0 - a.first) * length, x1 - x0,
                               b.sums->sums.data() + (y0 - b.first) * length, width, length,
                               static_cast<std::ptrdiff_t>(x0) - static_cast<std::ptrdiff_t>(y0) + 1};
        gram(block, products, width, kernel_scratch);
        for (std::size_t x = x0; x < x1; ++x) {
          for (std::size_t y = std::max(x + 1, y0); y < y1; ++y) {
            const double product = products[(x - x0) * width + (y - y0)];
            put(x, y, normalised_correlation(product, a.sums->own[x - a.first], b.sums->own[y - b.first]));
          }
        }
        meter.count(pairs_in(ta, tb));
      });
    }
  }
  failure.raise();
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
  const std::size_t side = grid_side(n, threads);
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
  region_failure failure;
#pragma omp parallel num_threads(threads)
  {
    std::vector<double> magnitudes;
    std::vector<double> sums;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t k = 0; k < count; ++k) {
      failure.run([&] {
        const real_array& x = *sets[static_cast<std::size_t>(k)];
        const auto n = static_cast<std::size_t>(x.count);
        magnitudes.resize(n);
        for (std::size_t i = 0; i < n; ++i) magnitudes[i] = std::fabs(x.buffer[i]);
        sums.resize(window_sum_length(x.count, h));
        window_sums(magnitudes.data(), x.count, h, sums.data());
        // A nan (from a nan value) fails the test as an inf does.
        outside[static_cast<std::size_t>(k)] = !std::isfinite(accurate_dot(sums.data(), sums.data(), sums.size()));
      });
    }
  }
  failure.raise();
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
  region_failure own_failure;
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t k = 0; k < count; ++k) {
    own_failure.run([&] {
      const auto i = static_cast<std::size_t>(k);
      if (needed[i]) own[i] = lag_product_sum(window, *sets[i], *sets[i]);
    });
  }
  own_failure.raise();
  for (std::size_t f = rows.first; f < rows.end; ++f) {
    if (outside[f]) values[(f - rows.first) * n + f] = normalised_correlation(own[f], own[f], own[f]);
  }
  const auto pair_count = static_cast<std::int64_t>(pairs.size());
  region_failure pair_failure;
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t k = 0; k < pair_count; ++k) {
    pair_failure.run([&] {
      const auto [a, b] = pairs[static_cast<std::size_t>(k)];
      const double value = normalised_correlation(lag_product_sum(window, *sets[a], *sets[b]), own[a], own[b]);
      if (rows.holds(a)) values[(a - rows.first) * n + b] = value;
      if (rows.holds(b)) values[(b - rows.first) * n + a] = value;
    });
  }
  pair_failure.raise();
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
  region_failure failure;
#pragma omp parallel num_threads(team)
  {
    double* sums = scratch.data() + static_cast<std::size_t>(omp_get_thread_num()) * length;
#pragma omp for schedule(dynamic, 1)
    for (std::int64_t j = 0; j < count; ++j) {
      if (meter.stopped()) continue;
      failure.run([&] {
        const real_array& b = *sets[static_cast<std::size_t>(j)];
        window_sums(b.buffer, b.count, h, sums);
        double c_ab = accurate_dot(reference_sums.data(), sums, length);
        double c_bb = accurate_dot(sums, sums, length);
        values[static_cast<std::size_t>(j)] = normalised_correlation(c_ab, own_reference, c_bb);
        meter.count_one();
      });
    }
  }
  failure.raise();
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
