// The Gram products of --fast: the inner products of every row of one block
// of window-sum rows with every row of another, in one fixed order of
// additions, so that an entry has the same bits on every path, CPU, system,
// thread count and tile.
//
// For rows a_0 .. a_{m-1} and b_0 .. b_{n-1} of `length` entries each,
//
//   c[i][j] = (...((0 + a_i[0] * b_j[0]) + a_i[1] * b_j[1]) + ...) + a_i[L-1] * b_j[L-1],
//
// one running sum per entry in increasing k, each product rounded, then
// added and rounded (a multiply, then an add: never a fused multiply-add).
// That order depends on nothing but the two rows, so where an entry sits in
// a block, how large the block is and which path forms it change no bit.
//
// The vector paths keep that order by vectorising across entries, never
// across k: a register tile of mr x nr entries takes, at step k, the outer
// product of mr values of column k of A and nr of B, each entry still adding
// its own products one by one. The k loop runs in blocks that fit the
// caches; an entry's running sum is stored after one block and taken up by
// the next, never restarted and added to another.
//
// Type map:
//   gram_block        the operands of one call: two runs of rows, and which
//                     entries the caller reads
//   gram_fn           a path's entry point; gram_<isa> in gram_kernel_<isa>.cpp
//   gram_on / gram    a chosen path / the fastest this CPU runs
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/lag_kernels.h"

namespace lagscan::matrix {

// Rows a_i at a + i * length (i < a_rows), b_j at b + j * length
// (j < b_rows). Only the entries with j - i >= min_offset are read by the
// caller; a path may skip the others (a tile on the diagonal of a symmetric
// table needs its upper triangle only). No other entry is skipped.
struct gram_block {
  const double* a;
  std::size_t a_rows;
  const double* b;
  std::size_t b_rows;
  std::size_t length;
  std::ptrdiff_t min_offset;
};

// Writes entry (i, j) to c[i * ldc + j] for every entry the caller reads;
// the others may be left as they were. scratch holds gram_scratch_size
// doubles (the packed operands and the running sums).
using gram_fn = void (*)(const gram_block& block, double* c, std::size_t ldc, double* scratch);

// Entries of k an operand's packed block holds: the register tile's
// operands for a block (mr + nr) x gram_k_block stay in the first-level
// cache while the tile's sums take their steps.
inline constexpr std::size_t gram_k_block = 256;

// No path's register tile has more rows or columns.
inline constexpr std::size_t gram_tile_bound = 32;

// The doubles of scratch a call with these operands needs, on any path.
std::size_t gram_scratch_size(std::size_t a_rows, std::size_t b_rows);

// On the given path, which must be available (lag_path_available): the
// reference is the plain loop of the formula above; sse2, avx2 and avx512
// are the register-blocked kernels on 128-, 256- and 512-bit vectors. Every
// path gives the same bits.
void gram_on(lag_path path, const gram_block& block, double* c, std::size_t ldc, double* scratch);

// On the fastest path this CPU runs (chosen_lag_path).
void gram(const gram_block& block, double* c, std::size_t ldc, double* scratch);

// The kernels' entry points, each compiled for its instruction set; gram_on
// chooses among them.
void gram_sse2(const gram_block& block, double* c, std::size_t ldc, double* scratch);
void gram_avx2(const gram_block& block, double* c, std::size_t ldc, double* scratch);
void gram_avx512(const gram_block& block, double* c, std::size_t ldc, double* scratch);

}  // namespace lagscan::matrix
