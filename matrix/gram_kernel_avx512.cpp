// The Gram kernel on 512-bit vectors. Compiled with -mavx512f and called
// only when the CPU and the OS support AVX-512F.
#include <immintrin.h>

#include "matrix/gram_kernel_body.h"

namespace lagscan::matrix {
namespace {

struct avx512_vectors {
  static constexpr std::size_t width = 8;
  using vec = __m512d;
  static vec zero() { return _mm512_setzero_pd(); }
  static vec load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, vec v) { _mm512_storeu_pd(p, v); }
  static vec splat(const double* p) { return _mm512_set1_pd(*p); }
  static vec add(vec s, vec x) { return _mm512_add_pd(s, x); }
  static vec mul(vec x, vec y) { return _mm512_mul_pd(x, y); }
};

// Thirty-two registers: a tile of 16 x 12 entries takes twenty-four, A's
// column two, with room for B's splat value and the products.
using tile = register_tile<avx512_vectors, 2, 12>;

}  // namespace

void gram_avx512(const gram_block& block, double* c, std::size_t ldc, double* scratch) {
  gram_in<tile>(block, c, ldc, scratch);
}

}  // namespace lagscan::matrix
