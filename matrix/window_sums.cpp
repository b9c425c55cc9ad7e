#include "matrix/window_sums.h"

#include <cmath>

namespace lagscan::matrix {
namespace {

// A sum that keeps the rounding error of every addition (Knuth's two-sum)
// in a second term, so that adding and later subtracting a large value
// leaves no trace of it.
struct compensated_sum {
  double sum = 0.0;
  double carry = 0.0;
  void add(double a) {
    double t = sum + a;
    double z = t - sum;
    carry += (sum - (t - z)) + (a - z);
    sum = t;
  }
  double value() const { return sum + carry; }
};

struct plain_sum {
  double sum = 0.0;
  void add(double a) { sum += a; }
  double value() const { return sum; }
};

template <class running_sum>
void fill_window_sums(const double* x, std::int64_t n, std::int64_t h, double* out) {
  running_sum r;
  if (h + 1 < n) {
    for (std::int64_t k = 0; k < n + h; ++k) {
      if (k < n) r.add(x[k]);
      if (k > h) r.add(-x[k - h - 1]);
      out[k] = r.value();
    }
    return;
  }
  if (n == 0) return;
  // Windows that start at 0, the whole sequence (once for its h - n + 2
  // places), then windows that end at n - 1.
  for (std::int64_t k = 0; k < n; ++k) {
    r.add(x[k]);
    out[k] = r.value();
  }
  out[n - 1] *= std::sqrt(static_cast<double>(h - n + 2));
  for (std::int64_t t = 0; t + 1 < n; ++t) {
    r.add(-x[t]);
    out[n + t] = r.value();
  }
}

}  // namespace

std::size_t window_sum_length(std::int64_t n, std::int64_t h) {
  if (n == 0) return 0;
  return static_cast<std::size_t>(h + 1 < n ? n + h : 2 * n - 1);
}

void window_sums(const double* x, std::int64_t n, std::int64_t h, double* out) {
  fill_window_sums<compensated_sum>(x, n, h, out);
}

void window_sums_uncompensated(const double* x, std::int64_t n, std::int64_t h, double* out) {
  fill_window_sums<plain_sum>(x, n, h, out);
}

double accurate_dot(const double* a, const double* b, std::size_t length) {
  constexpr std::size_t block = 64;
  compensated_sum total;
  std::size_t k = 0;
  for (; k + block <= length; k += block) {
    double p0 = 0.0, p1 = 0.0, p2 = 0.0, p3 = 0.0;
    for (std::size_t r = k; r < k + block; r += 4) {
      p0 += a[r] * b[r];
      p1 += a[r + 1] * b[r + 1];
      p2 += a[r + 2] * b[r + 2];
      p3 += a[r + 3] * b[r + 3];
    }
    total.add((p0 + p2) + (p1 + p3));
  }
  double rest = 0.0;
  for (; k < length; ++k) rest += a[k] * b[k];
  total.add(rest);
  return total.value();
}

}  // namespace lagscan::matrix
