// The best-effort kernel on AVX-512: sixteen lags of eight lanes, the x
// values and a load in thirty-two registers.
#include <immintrin.h>

#include "bench/baseline/kernels.h"

namespace best_effort {
namespace {

struct avx512 {
  using reg = __m512d;
  static constexpr int lanes = 8;
  static constexpr int lags = 16;
  static reg load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, reg v) { _mm512_storeu_pd(p, v); }
  static reg fmadd(reg x, reg y, reg s) { return _mm512_fmadd_pd(x, y, s); }
};

}  // namespace

void shifted_sums_avx512(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int64_t count,
                         double* sums, double* scratch) {
  shifted_sums_of<avx512>(a, b, n, first, count, sums, scratch);
}

}  // namespace best_effort
