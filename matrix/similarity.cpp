#include "matrix/similarity.h"

#include <omp.h>

#include <algorithm>
#include <cstddef>

#include "app/lag_correlation.h"
#include "matrix/progress.h"
#include "streams/except_3.h"
#include "streams/file_in.h"

namespace lagscan::matrix {
namespace {

// The own sum C(W; X, X) of every set, once each.
std::vector<double> own_sums(const real_array& window, const std::vector<const real_array*>& sets, int threads) {
  std::vector<double> sums(sets.size());
  const auto n = static_cast<std::int64_t>(sets.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t i = 0; i < n; ++i) {
    const real_array& x = *sets[static_cast<std::size_t>(i)];
    sums[static_cast<std::size_t>(i)] = lag_product_sum(window, x, x);
  }
  return sums;
}

}  // namespace

void load_file(data_file& file) noexcept {
  // Exceptions must not leave a parallel region: each file's own failure is
  // kept with it.
  try {
    read_numbers(file.values, file.name.c_str(), data_access::read_only);
  } catch (except_3* error) {
    file.problem = error->text.c_str();
    release_error(error);
    file.values.release_storage();
  } catch (...) {
    file.problem = " Error";
    file.values.release_storage();
  }
}

std::vector<data_file> load_files(const std::vector<std::string>& names, int threads) {
  std::vector<data_file> files(names.size());
  const auto n = static_cast<std::int64_t>(names.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t i = 0; i < n; ++i) {
    data_file& file = files[static_cast<std::size_t>(i)];
    file.name = names[static_cast<std::size_t>(i)];
    load_file(file);
  }
  return files;
}

void make_window(real_array& window, std::int32_t s) {
  window.reserve(s, false);
  window.count = s;
  make_triangle_window(window);
}

row_range row_block(std::size_t n, std::size_t block, std::size_t blocks) {
  // n * b / K without forming n * b, which passes 64 bits for n and K in
  // the billions: with n = qK + r it is qb + rb / K, and rb < K^2 fits.
  auto cut = [n, blocks](std::size_t b) { return n / blocks * b + n % blocks * b / blocks; };
  return {cut(block - 1), cut(block)};
}

std::vector<double> all_pairs(const real_array& window, const std::vector<const real_array*>& sets,
                              row_range rows, int threads, bool shown) {
  shown_progress meter(shown);
  return all_pairs(window, sets, rows, threads, meter);
}

std::vector<double> against(const real_array& window, const real_array& reference,
                            const std::vector<const real_array*>& sets, int threads, bool shown) {
  shown_progress meter(shown);
  return against(window, reference, sets, threads, meter);
}

std::vector<double> all_pairs(const real_array& window, const std::vector<const real_array*>& sets,
                              row_range rows, int threads, progress_meter& meter) {
  const std::vector<double> own = own_sums(window, sets, threads);
  const std::size_t n = sets.size();
  const std::uint64_t inside = rows.size();
  meter.start(inside * (inside - (inside > 0 ? 1 : 0)) / 2 + inside * (n - inside));
  std::vector<double> values(rows.size() * n);
  for (std::size_t i = rows.first; i < rows.end; ++i) {
    values[(i - rows.first) * n + i] = normalised_correlation(own[i], own[i], own[i]);
  }
  // Each pair (i, j) with a row of the block is formed once, the files in
  // their order (lagscan's A is the earlier one): by row i, unless row j is
  // in the block too and comes first. Rows are handed out one at a time, so
  // the long rows spread over the threads; every value lands in its own
  // place, whichever thread forms it.
  const auto first = static_cast<std::int64_t>(rows.first);
  const auto end = static_cast<std::int64_t>(rows.end);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t row = first; row < end; ++row) {
    const auto i = static_cast<std::size_t>(row);
    for (std::size_t j = 0; j < n && !meter.stopped(); ++j) {
      if (j == i || (j < i && rows.holds(j))) continue;
      const std::size_t a = std::min(i, j);
      const std::size_t b = std::max(i, j);
      double value = normalised_correlation(lag_product_sum(window, *sets[a], *sets[b]), own[a], own[b]);
      values[(i - rows.first) * n + j] = value;
      if (rows.holds(j)) values[(j - rows.first) * n + i] = value;
      meter.count_one();
    }
  }
  meter.finish();
  return values;
}

std::vector<double> against(const real_array& window, const real_array& reference,
                            const std::vector<const real_array*>& sets, int threads, progress_meter& meter) {
  meter.start(sets.size());
  const double own_reference = lag_product_sum(window, reference, reference);
  std::vector<double> values(sets.size());
  const auto n = static_cast<std::int64_t>(sets.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t j = 0; j < n; ++j) {
    if (meter.stopped()) continue;
    const real_array& b = *sets[static_cast<std::size_t>(j)];
    double c_ab = lag_product_sum(window, reference, b);
    double c_bb = lag_product_sum(window, b, b);
    values[static_cast<std::size_t>(j)] = normalised_correlation(c_ab, own_reference, c_bb);
    meter.count_one();
  }
  meter.finish();
  return values;
}

}  // namespace lagscan::matrix
