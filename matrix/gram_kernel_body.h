// The body shared by the gram_kernel_<isa>.cpp sources: packing, the blocks
// of k and the register tile, on a vector type of the source's instruction
// set.
//
// Everything here sits in an unnamed namespace and calls no inline function
// of the standard library: each source is compiled for its own instruction
// set, and an inline function with external linkage could be merged by the
// linker with a copy built for a wider set, which would then run on CPUs
// without it. (tests/app/check_kernel_objects guards this.)
//
// A vector type V provides:
//   width            doubles in a vector
//   vec              the vector
//   zero()           +0.0 in every lane
//   load, store      width doubles from and to memory, unaligned
//   splat(p)         *p in every lane
//   add(s, x), mul(x, y)  lane by lane, each rounded
#pragma once

#include <cstddef>

#include "matrix/gram.h"

namespace lagscan::matrix {
namespace {

std::size_t least(std::size_t a, std::size_t b) { return a < b ? a : b; }

// A register tile of mr = V::width * MV rows by NR columns. Entry (i, j)
// lives in lane i % width of vector s[j][i / width]: a vector holds entries
// of one column, so a step multiplies MV vectors of A's column k by each of
// NR values of B's column k, splat.
template <class V, std::size_t MV, std::size_t NR>
struct register_tile {
  static constexpr std::size_t mr = V::width * MV;
  static constexpr std::size_t nr = NR;

  // kc steps of the tile's running sums, kept at sums (column j's mr entries
  // at sums + j * mr), from +0.0 when fresh. ap holds mr values per step,
  // bp nr.
  static void steps(const double* ap, const double* bp, std::size_t kc, double* sums, bool fresh) {
    typename V::vec s[NR][MV];
#pragma GCC unroll 32
    for (std::size_t j = 0; j < NR; ++j) {
#pragma GCC unroll 32
      for (std::size_t v = 0; v < MV; ++v) s[j][v] = fresh ? V::zero() : V::load(sums + j * mr + v * V::width);
    }
    for (std::size_t k = 0; k < kc; ++k) {
      typename V::vec a[MV];
#pragma GCC unroll 32
      for (std::size_t v = 0; v < MV; ++v) a[v] = V::load(ap + k * mr + v * V::width);
#pragma GCC unroll 32
      for (std::size_t j = 0; j < NR; ++j) {
        const typename V::vec b = V::splat(bp + k * NR + j);
#pragma GCC unroll 32
        for (std::size_t v = 0; v < MV; ++v) s[j][v] = V::add(s[j][v], V::mul(a[v], b));
      }
    }
#pragma GCC unroll 32
    for (std::size_t j = 0; j < NR; ++j) {
#pragma GCC unroll 32
      for (std::size_t v = 0; v < MV; ++v) V::store(sums + j * mr + v * V::width, s[j][v]);
    }
  }
};

// Columns k0 .. k0 + kc of the rows first .. first + panels * p of `rows`
// rows, in panels of p rows: panel q holds, step by step, the p values of
// its rows at k (zeros for rows past the last, whose entries nobody reads).
void pack(const double* rows, std::size_t count, std::size_t length, std::size_t k0, std::size_t kc,
          std::size_t p, std::size_t panels, double* packed) {
  for (std::size_t q = 0; q < panels; ++q) {
    double* panel = packed + q * p * kc;
    for (std::size_t r = 0; r < p; ++r) {
      const std::size_t row = q * p + r;
      if (row < count) {
        const double* from = rows + row * length + k0;
        for (std::size_t k = 0; k < kc; ++k) panel[k * p + r] = from[k];
      } else {
        for (std::size_t k = 0; k < kc; ++k) panel[k * p + r] = 0.0;
      }
    }
  }
}

template <class T>
void gram_in(const gram_block& block, double* c, std::size_t ldc, double* scratch) {
  constexpr std::size_t mr = T::mr, nr = T::nr;
  static_assert(mr <= gram_tile_bound && nr <= gram_tile_bound, "gram_scratch_size's bound");
  const std::size_t m = block.a_rows, n = block.b_rows, length = block.length;
  if (m == 0 || n == 0) return;
  const std::size_t row_tiles = (m + mr - 1) / mr, column_tiles = (n + nr - 1) / nr;
  double* packed_a = scratch;
  double* packed_b = packed_a + row_tiles * mr * gram_k_block;
  double* sums = packed_b + column_tiles * nr * gram_k_block;
  // Whether tile (ti, tj) holds an entry the caller reads: its largest j - i.
  auto read = [&](std::size_t ti, std::size_t tj) {
    return static_cast<std::ptrdiff_t>(tj * nr + nr - 1) - static_cast<std::ptrdiff_t>(ti * mr) >= block.min_offset;
  };
  auto tile_sums = [&](std::size_t ti, std::size_t tj) { return sums + (ti * column_tiles + tj) * mr * nr; };
  if (length == 0) {
    for (std::size_t t = 0; t < row_tiles * column_tiles * mr * nr; ++t) sums[t] = 0.0;
  }
  for (std::size_t k0 = 0; k0 < length; k0 += gram_k_block) {
    const std::size_t kc = least(gram_k_block, length - k0);
    pack(block.a, m, length, k0, kc, mr, row_tiles, packed_a);
    pack(block.b, n, length, k0, kc, nr, column_tiles, packed_b);
    // A column of B's panel stays in the first-level cache while A's panels
    // pass by.
    for (std::size_t tj = 0; tj < column_tiles; ++tj) {
      for (std::size_t ti = 0; ti < row_tiles; ++ti) {
        if (read(ti, tj)) T::steps(packed_a + ti * mr * kc, packed_b + tj * nr * kc, kc, tile_sums(ti, tj), k0 == 0);
      }
    }
  }
  for (std::size_t ti = 0; ti < row_tiles; ++ti) {
    for (std::size_t tj = 0; tj < column_tiles; ++tj) {
      if (!read(ti, tj)) continue;
      const double* s = tile_sums(ti, tj);
      const std::size_t rows = least(mr, m - ti * mr), columns = least(nr, n - tj * nr);
      for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < columns; ++j) c[(ti * mr + i) * ldc + tj * nr + j] = s[j * mr + i];
      }
    }
  }
}

}  // namespace
}  // namespace lagscan::matrix
