// Shifted sums: the per-lag inner products of the lag correlation, several
// lags per pass over the data, one implementation per instruction set.
//
// shifted_sums_<isa>(a, b, n, first, count, sums) sets, for 0 <= j < count,
//
//   sums[j] = sum of a[k] * b[k + d] over 0 <= k < n - d,   d = first + j,
//
// formed in the fixed order of the lag correlation: four partial sums
// p0..p3 (p_r takes the products with k mod 4 = r, in increasing k),
// combined as (p0 + p2) + (p1 + p3), then the remaining n - d mod 4 products
// added one by one. Every lag must overlap (first + count <= n) and
// count <= lags_per_pass.
//
// The lags of a pass share the loads of a; their accumulators are
// independent, so the order of each lag's own sum is unchanged.
#pragma once

#include <cstdint>

namespace lagscan {

// The lags one call handles; the caller splits longer runs.
inline constexpr std::int32_t lags_per_pass = 256;

// The self sums C(W; X, X) form the lag sums of lags 0 .. self_lags_kept - 1
// once for both signs and keep them on the stack; lags farther out are
// formed for each sign, as in a cross sum.
inline constexpr std::int64_t self_lags_kept = 8192;

using shifted_sums_fn = void (*)(const double* a, const double* b, std::int64_t n, std::int64_t first,
                                 std::int32_t count, double* sums);

// Runs on every x86-64 CPU.
void shifted_sums_sse2(const double* a, const double* b, std::int64_t n, std::int64_t first,
                       std::int32_t count, double* sums);
// Only on a CPU with AVX2.
void shifted_sums_avx2(const double* a, const double* b, std::int64_t n, std::int64_t first,
                       std::int32_t count, double* sums);
// Only on a CPU (and OS) with AVX-512F.
void shifted_sums_avx512(const double* a, const double* b, std::int64_t n, std::int64_t first,
                         std::int32_t count, double* sums);

}  // namespace lagscan
