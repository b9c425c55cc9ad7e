// Shifted sums with two lags per 512-bit vector. Compiled with -mavx512f and
// called only when the CPU and the OS support AVX-512F.
#include <immintrin.h>

#include "app/shifted_sums_body.h"

namespace lagscan {
namespace {

// Masked loads and stores move the two halves between the lane table and a
// register without the 256/512-bit conversions, whose intrinsics draw a false
// "used uninitialized" warning from GCC 12 (as the unmasked broadcast does).
constexpr __mmask8 all_lanes = 0xFF;
constexpr __mmask8 low_half = 0x0F;
constexpr __mmask8 high_half = 0xF0;

// Lanes 0-3 hold p0..p3 of lag j, lanes 4-7 those of lag j + 4: for both,
// the b values of step k are then one contiguous run b[k + j .. k + j + 7],
// and the four x values are the same in both halves.
struct avx512_pairs {
  using acc = __m512d;
  using xs = __m512d;
  static constexpr std::int32_t lags_per_acc = 2;
  static constexpr std::size_t first_lag(std::size_t g) { return g / 4 * 8 + g % 4; }
  static acc load(const double* lanes, std::size_t g) {
    const double* row = lanes + 4 * first_lag(g);  // the row of lag j + 4 is 16 further
    return _mm512_mask_loadu_pd(_mm512_maskz_loadu_pd(low_half, row), high_half, row + 12);
  }
  static void store(double* lanes, std::size_t g, acc s) {
    double* row = lanes + 4 * first_lag(g);
    _mm512_mask_storeu_pd(row, low_half, s);
    _mm512_mask_storeu_pd(row + 12, high_half, s);
  }
  static xs load_x(const double* a) { return _mm512_maskz_broadcast_f64x4(all_lanes, _mm256_loadu_pd(a)); }
  using bs = __m512d;
  static bs load_b(const double* b) { return _mm512_loadu_pd(b); }
  static acc add_product(acc s, xs x, bs b) { return _mm512_add_pd(s, _mm512_mul_pd(x, b)); }
  static acc step(acc s, xs x, const double* b) { return add_product(s, x, load_b(b)); }
};

// Thirty-two registers. Thirty-two lags or more go in tiles of sixteen
// pairs over eight steps: the pairs, the x values of the eight steps and a
// run of b in flight. Each run of b then serves up to four pairs, so a
// multiply-add takes about half a load instead of one (whole program at
// s = 10001: about 8 % faster). The next sixteen lags go in eight pairs a
// step at a time, which was faster than a tile for runs of only a few dozen
// lags (lagscan-matrix's 10^4 values at s = 101); fewer than sixteen in
// 256-bit vectors, eight or fewer at a time.
constexpr block_kind blocks[] = {
    tiled_blocks<avx512_pairs, 16, 8>(),
    plain_blocks<avx512_pairs, 8>(),
    plain_blocks<avx2_lanes, 8>(),
};

}  // namespace

void shifted_sums_avx512(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int32_t count,
                         double* sums) {
  shifted_sums_in<avx2_lanes, 8>(blocks, a, b, n, first, count, sums);
}

}  // namespace lagscan
