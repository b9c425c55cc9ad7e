#include "app/lag_correlation.h"

#include <algorithm>
#include <cmath>

#include "app/lag_kernels.h"

namespace lagscan {

void make_triangle_window(real_array& w) {
  std::int32_t s = w.count;
  std::int32_t h = s >> 1;
  for (std::int32_t j = 0; j < h; ++j) {
    w[j] = j + 1;
    w[s - 1 - j] = j + 1;
  }
  w[h] = h + 1;
}

namespace {

// The sum of x[i] * y[i] for 0 <= i < n in the fixed order: the order of two
// two-lane vectors, which is what the four partial sums reproduce.
double ordered_dot(const double* x, const double* y, std::int64_t n) {
  double sum = 0.0;
  std::int64_t i = 0;
  if (n >= 4) {
    double p0 = 0.0, p1 = 0.0, p2 = 0.0, p3 = 0.0;
    for (; i + 4 <= n; i += 4) {
      p0 += x[i] * y[i];
      p1 += x[i + 1] * y[i + 1];
      p2 += x[i + 2] * y[i + 2];
      p3 += x[i + 3] * y[i + 3];
    }
    sum = (p0 + p2) + (p1 + p3);
  }
  for (; i < n; ++i) sum += x[i] * y[i];
  return sum;
}

}  // namespace

double lag_product_sum(const real_array& w, const real_array& x, const real_array& y) {
  return lag_product_sum_on(chosen_lag_path(), w, x, y);
}

double lag_product_sum_reference(const real_array& w, const real_array& x, const real_array& y) {
  std::int64_t h = w.count >> 1;
  std::int64_t n = x.count;
  double total = 0.0;
  for (std::int64_t m = -h; m <= h; ++m) {
    std::int64_t lo = std::max<std::int64_t>(0, -m);
    std::int64_t hi = std::min(n, n - m);
    double lag_sum = lo < hi ? ordered_dot(x.buffer + lo, y.buffer + lo + m, hi - lo) : 0.0;
    total += lag_sum * w.buffer[h + m];
  }
  return total;
}

void unweighted_lag_sums(const real_array& x, const real_array& y, std::int64_t reach, double* sums) {
  unweighted_lag_sums_on(chosen_lag_path(), x, y, reach, sums);
}

void lag_sums_reference(const real_array& x, const real_array& y, std::int64_t first, std::int64_t count,
                        double* sums) {
  std::int64_t n = x.count;
  for (std::int64_t m = first; m < first + count; ++m) {
    std::int64_t lo = std::max<std::int64_t>(0, -m);
    sums[m - first] = ordered_dot(x.buffer + lo, y.buffer + lo + m, std::min(n, n - m) - lo);
  }
}

void unweighted_lag_sums_reference(const real_array& x, const real_array& y, std::int64_t reach, double* sums) {
  lag_sums_reference(x, y, -reach, 2 * reach + 1, sums);
}

double lag_correlation(const real_array& w, const real_array& a, const real_array& b) {
  double c_ab = lag_product_sum(w, a, b);
  double c_aa = lag_product_sum(w, a, a);
  double c_bb = lag_product_sum(w, b, b);
  return normalised_correlation(c_ab, c_aa, c_bb);
}

double normalised_correlation(double c_ab, double c_aa, double c_bb) {
  double d = std::sqrt(std::fabs(c_bb * c_aa));
  constexpr double smallest_divisor = 1e-100;
  double divisor = d > smallest_divisor ? d : smallest_divisor;  // NaN fails the test too
  return c_ab / divisor;
}

}  // namespace lagscan
