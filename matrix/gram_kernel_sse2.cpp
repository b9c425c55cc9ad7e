// The Gram kernel on 128-bit vectors: the x86-64 baseline.
#include <emmintrin.h>

#include "matrix/gram_kernel_body.h"

namespace lagscan::matrix {
namespace {

struct sse2_vectors {
  static constexpr std::size_t width = 2;
  using vec = __m128d;
  static vec zero() { return _mm_setzero_pd(); }
  static vec load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, vec v) { _mm_storeu_pd(p, v); }
  static vec splat(const double* p) { return _mm_load1_pd(p); }
  static vec add(vec s, vec x) { return _mm_add_pd(s, x); }
  static vec mul(vec x, vec y) { return _mm_mul_pd(x, y); }
};

// Sixteen registers: a tile of 4 x 4 entries takes eight, A's column two,
// with room for B's splat value and the products.
using tile = register_tile<sse2_vectors, 2, 4>;

}  // namespace

void gram_sse2(const gram_block& block, double* c, std::size_t ldc, double* scratch) {
  gram_in<tile>(block, c, ldc, scratch);
}

}  // namespace lagscan::matrix
