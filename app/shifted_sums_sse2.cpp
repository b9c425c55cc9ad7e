// Shifted sums on two two-lane vectors per lag: the x86-64 baseline.
#include <emmintrin.h>

#include "app/shifted_sums_body.h"

namespace lagscan {
namespace {

// One lag in two 128-bit registers: lanes p0 p1 and p2 p3.
struct sse2_lanes {
  struct acc {
    __m128d low, high;
  };
  using xs = acc;
  static constexpr std::int32_t lags_per_acc = 1;
  static constexpr std::size_t first_lag(std::size_t g) { return g; }
  static acc load(const double* lanes, std::size_t g) { return {_mm_load_pd(lanes + 4 * g), _mm_load_pd(lanes + 4 * g + 2)}; }
  static void store(double* lanes, std::size_t g, acc s) {
    _mm_store_pd(lanes + 4 * g, s.low);
    _mm_store_pd(lanes + 4 * g + 2, s.high);
  }
  static xs load_x(const double* a) { return {_mm_loadu_pd(a), _mm_loadu_pd(a + 2)}; }
  static acc step(acc s, xs x, const double* b) {
    return {_mm_add_pd(s.low, _mm_mul_pd(x.low, _mm_loadu_pd(b))),
            _mm_add_pd(s.high, _mm_mul_pd(x.high, _mm_loadu_pd(b + 2)))};
  }
};

// Sixteen registers: four lags take eight, the shared x values two more.
constexpr std::size_t accumulators = 4;

}  // namespace

void shifted_sums_sse2(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int32_t count,
                       double* sums) {
  static constexpr block_kind blocks[] = {plain_blocks<sse2_lanes, accumulators>()};
  shifted_sums_in<sse2_lanes, accumulators>(blocks, a, b, n, first, count, sums);
}

}  // namespace lagscan
