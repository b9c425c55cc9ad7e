#include "app/lag_kernels.h"

#include "app/lag_correlation.h"
#include "app/shifted_sums.h"

#ifndef LAGSCAN_REFERENCE_PATHS
#define LAGSCAN_REFERENCE_PATHS 0
#endif

namespace lagscan {
namespace {

std::int64_t smaller(std::int64_t p, std::int64_t q) { return p < q ? p : q; }

// Lag m pairs x[i] with y[i + m] from i = max(0, -m), so the lane of a
// product is counted from the first index of the sequence that starts later:
// for m >= 0 the sum is shifted_sums(x, y) at d = m, for m < 0 it is
// shifted_sums(y, x) at d = -m (the same products, each x * y = y * x).
// The weighted lag sums are added to the total in ascending m.
struct lag_sums {
  shifted_sums_fn shifted_sums;
  const double* x;
  const double* y;
  std::int64_t n;
  const double* weight;  // weight[m] for -h <= m <= h

  // Adds lags m_begin .. m_end - 1, all negative and overlapping.
  void add_below_zero(std::int64_t m_begin, std::int64_t m_end, double& total) const {
    double sums[lags_per_pass];
    for (std::int64_t m = m_begin; m < m_end;) {
      auto count = static_cast<std::int32_t>(smaller(lags_per_pass, m_end - m));
      std::int64_t nearest = -(m + count - 1);  // sums[j] is lag -(nearest + j)
      shifted_sums(y, x, n, nearest, count, sums);
      for (std::int32_t j = count - 1; j >= 0; --j, ++m) total += sums[j] * weight[m];
    }
  }

  // Writes lags m_begin .. m_end - 1 (all negative, all overlapping) to out[m].
  void write_below_zero(std::int64_t m_begin, std::int64_t m_end, double* out) const {
    double sums[lags_per_pass];
    for (std::int64_t m = m_begin; m < m_end;) {
      auto count = static_cast<std::int32_t>(smaller(lags_per_pass, m_end - m));
      shifted_sums(y, x, n, -(m + count - 1), count, sums);
      for (std::int32_t j = count - 1; j >= 0; --j, ++m) out[m] = sums[j];
    }
  }

  // Adds lags m_begin .. m_end - 1, none negative, all overlapping.
  void add_from_zero(std::int64_t m_begin, std::int64_t m_end, double& total) const {
    double sums[lags_per_pass];
    for (std::int64_t m = m_begin; m < m_end;) {
      auto count = static_cast<std::int32_t>(smaller(lags_per_pass, m_end - m));
      shifted_sums(x, y, n, m, count, sums);
      for (std::int32_t j = 0; j < count; ++j, ++m) total += sums[j] * weight[m];
    }
  }
};

double lag_product_sum_with(const lag_sums& lags, std::int64_t reach) {
  double total = 0.0;
  lags.add_below_zero(-reach, 0, total);
  lags.add_from_zero(0, reach + 1, total);
  return total;
}

// Lag -m of C(W; X, X) takes the same products as lag +m, each
// x[i] * x[i + m] = x[i + m] * x[i], in the same lanes of the same partial
// sums, so both lag sums are the same bits: the lags up to self_lags_kept - 1
// are formed once (64 KiB on the stack) and serve both signs, still added
// to the total from -h up.
double self_product_sum_with(const lag_sums& lags, std::int64_t reach) {
  double kept_sums[self_lags_kept];
  std::int64_t kept = smaller(reach, self_lags_kept - 1);  // lags -kept .. kept come from kept_sums
  for (std::int64_t d = 0; d <= kept;) {
    auto count = static_cast<std::int32_t>(smaller(lags_per_pass, kept - d + 1));
    lags.shifted_sums(lags.x, lags.x, lags.n, d, count, kept_sums + d);
    d += count;
  }
  double total = 0.0;
  lags.add_below_zero(-reach, -kept, total);
  for (std::int64_t m = -kept; m < 0; ++m) total += kept_sums[-m] * lags.weight[m];
  for (std::int64_t m = 0; m <= kept; ++m) total += kept_sums[m] * lags.weight[m];
  lags.add_from_zero(kept + 1, reach + 1, total);
  return total;
}

// A sequence with itself takes the self sums' shortcut; y holds at least
// count(x) elements, so the same buffer means the same sequence.
double product_sum_with(shifted_sums_fn shifted_sums, const real_array& w, const real_array& x,
                        const real_array& y) {
  std::int64_t h = w.count >> 1;
  std::int64_t n = x.count;
  std::int64_t reach = smaller(h, n - 1);  // the farthest lag that overlaps
  lag_sums lags{shifted_sums, x.buffer, y.buffer, n, w.buffer + h};
  if (x.buffer == y.buffer) return self_product_sum_with(lags, reach);
  return lag_product_sum_with(lags, reach);
}

}  // namespace

const char* lag_path_name(lag_path path) {
  switch (path) {
    case lag_path::reference: return "reference";
    case lag_path::sse2: return "sse2";
    case lag_path::avx2: return "avx2";
    case lag_path::avx512: return "avx512";
  }
  return "?";
}

bool lag_path_available(lag_path path) {
  switch (path) {
    case lag_path::reference:
    case lag_path::sse2: return true;
    // The checks include the OS's saving of the wider registers.
    case lag_path::avx2: return __builtin_cpu_supports("avx2") != 0;
    case lag_path::avx512: return __builtin_cpu_supports("avx512f") != 0;
  }
  return false;
}

lag_path chosen_lag_path() {
  if (LAGSCAN_REFERENCE_PATHS) return lag_path::reference;
  static const lag_path fastest = [] {
    for (lag_path path : {lag_path::avx512, lag_path::avx2}) {
      if (lag_path_available(path)) return path;
    }
    return lag_path::sse2;
  }();
  return fastest;
}

void lag_sums_on(lag_path path, const real_array& x, const real_array& y, std::int64_t first, std::int64_t count,
                 double* sums) {
  shifted_sums_fn shifted_sums = nullptr;
  switch (path) {
    case lag_path::reference: lag_sums_reference(x, y, first, count, sums); return;
    case lag_path::sse2: shifted_sums = &shifted_sums_sse2; break;
    case lag_path::avx2: shifted_sums = &shifted_sums_avx2; break;
    case lag_path::avx512: shifted_sums = &shifted_sums_avx512; break;
  }
  const std::int64_t end = first + count;
  lag_sums lags{shifted_sums, x.buffer, y.buffer, x.count, nullptr};
  if (first < 0) lags.write_below_zero(first, smaller(end, 0), sums - first);
  for (std::int64_t m = first < 0 ? 0 : first; m < end;) {
    auto run = static_cast<std::int32_t>(smaller(lags_per_pass, end - m));
    shifted_sums(x.buffer, y.buffer, x.count, m, run, sums + (m - first));
    m += run;
  }
}

void unweighted_lag_sums_on(lag_path path, const real_array& x, const real_array& y, std::int64_t reach, double* sums) {
  lag_sums_on(path, x, y, -reach, 2 * reach + 1, sums);
}

double lag_product_sum_on(lag_path path, const real_array& w, const real_array& x, const real_array& y) {
  switch (path) {
    case lag_path::reference: break;
    case lag_path::sse2: return product_sum_with(&shifted_sums_sse2, w, x, y);
    case lag_path::avx2: return product_sum_with(&shifted_sums_avx2, w, x, y);
    case lag_path::avx512: return product_sum_with(&shifted_sums_avx512, w, x, y);
  }
  return lag_product_sum_reference(w, x, y);
}

}  // namespace lagscan
