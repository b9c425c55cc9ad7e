#include "matrix/gram.h"

namespace lagscan::matrix {
namespace {

// The formula itself, entry by entry.
void gram_reference(const gram_block& block, double* c, std::size_t ldc) {
  for (std::size_t i = 0; i < block.a_rows; ++i) {
    for (std::size_t j = 0; j < block.b_rows; ++j) {
      if (static_cast<std::ptrdiff_t>(j) - static_cast<std::ptrdiff_t>(i) < block.min_offset) continue;
      const double* a = block.a + i * block.length;
      const double* b = block.b + j * block.length;
      double sum = 0.0;
      for (std::size_t k = 0; k < block.length; ++k) sum += a[k] * b[k];
      c[i * ldc + j] = sum;
    }
  }
}

}  // namespace

std::size_t gram_scratch_size(std::size_t a_rows, std::size_t b_rows) {
  return (a_rows + gram_tile_bound + b_rows + gram_tile_bound) * gram_k_block +
         (a_rows + gram_tile_bound) * (b_rows + gram_tile_bound);
}

void gram_on(lag_path path, const gram_block& block, double* c, std::size_t ldc, double* scratch) {
  switch (path) {
    case lag_path::reference: gram_reference(block, c, ldc); return;
    case lag_path::sse2: gram_sse2(block, c, ldc, scratch); return;
    case lag_path::avx2: gram_avx2(block, c, ldc, scratch); return;
    case lag_path::avx512: gram_avx512(block, c, ldc, scratch); return;
  }
}

void gram(const gram_block& block, double* c, std::size_t ldc, double* scratch) {
  gram_on(chosen_lag_path(), block, c, ldc, scratch);
}

}  // namespace lagscan::matrix
