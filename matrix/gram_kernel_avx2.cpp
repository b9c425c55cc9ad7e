// The Gram kernel on 256-bit vectors. Compiled with -mavx2 and called only
// when the CPU has AVX2.
#include <immintrin.h>

#include "matrix/gram_kernel_body.h"

namespace lagscan::matrix {
namespace {

struct avx2_vectors {
  static constexpr std::size_t width = 4;
  using vec = __m256d;
  static vec zero() { return _mm256_setzero_pd(); }
  static vec load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, vec v) { _mm256_storeu_pd(p, v); }
  static vec splat(const double* p) { return _mm256_broadcast_sd(p); }
  static vec add(vec s, vec x) { return _mm256_add_pd(s, x); }
  static vec mul(vec x, vec y) { return _mm256_mul_pd(x, y); }
};

// Sixteen registers: a tile of 8 x 4 entries takes eight, A's column two,
// with room for B's splat value and the products.
using tile = register_tile<avx2_vectors, 2, 4>;

}  // namespace

void gram_avx2(const gram_block& block, double* c, std::size_t ldc, double* scratch) {
  gram_in<tile>(block, c, ldc, scratch);
}

}  // namespace lagscan::matrix
