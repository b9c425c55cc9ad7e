// The best-effort kernel on AVX2 with FMA: twelve lags, the x values and a
// load in sixteen registers.
#include <immintrin.h>

#include "bench/baseline/kernels.h"

namespace best_effort {
namespace {

struct avx2_fma {
  using reg = __m256d;
  static constexpr int lanes = 4;
  static constexpr int lags = 12;
  static reg load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, reg v) { _mm256_storeu_pd(p, v); }
  static reg fmadd(reg x, reg y, reg s) { return _mm256_fmadd_pd(x, y, s); }
};

}  // namespace

void shifted_sums_avx2(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int64_t count,
                       double* sums, double* scratch) {
  shifted_sums_of<avx2_fma>(a, b, n, first, count, sums, scratch);
}

}  // namespace best_effort
