// The lag kernel of the best-effort program: blocks of V::lags lags, each
// lag's products summed in V::lanes lanes with fused multiply-adds, over
// chunks of a and b that stay in the first-level cache. Any order: only the
// speed matters here. Included by one source per instruction set, each
// compiled for its own; so nothing here calls an inline function of the
// standard library, which the linker could take from the wider build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace best_effort {

using shifted_sums_fn = void (*)(const double* a, const double* b, std::int64_t n, std::int64_t first,
                                 std::int64_t count, double* sums, double* scratch);

// sums[j] = sum of a[k] * b[k + first + j] for k < n - first - j, j < count,
// in any order; scratch holds scratch_doubles(count) doubles.
void shifted_sums_avx2(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int64_t count,
                       double* sums, double* scratch);
void shifted_sums_avx512(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int64_t count,
                         double* sums, double* scratch);

// Room for the lanes of count lags, rounded up to whole blocks, on any kernel.
constexpr std::int64_t scratch_doubles(std::int64_t count) { return (count + 16) * 8; }

namespace {

constexpr std::int64_t chunk = 2048;  // elements of a and b that stay in the first-level cache

template <class V>
void shifted_sums_of(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int64_t count,
                     double* sums, double* acc) {
  constexpr int lags = V::lags;
  constexpr int lanes = V::lanes;
  std::int64_t blocks = (count + lags - 1) / lags;
  for (std::int64_t i = 0; i < blocks * lags * lanes; ++i) acc[i] = 0.0;
  // Every lag of every block, the last one's unused lags included, has
  // these k; the rest are added one by one.
  std::int64_t common = n - (first + blocks * lags - 1);
  common = common < 0 ? 0 : common - common % lanes;
  for (std::int64_t k0 = 0; k0 < common; k0 += chunk) {
    std::int64_t k1 = k0 + chunk < common ? k0 + chunk : common;
    for (std::int64_t block = 0; block < blocks; ++block) {
      double* row = acc + block * lags * lanes;
      const double* bb = b + first + block * lags;
      typename V::reg s[static_cast<std::size_t>(lags)];
#pragma GCC unroll 16
      for (int j = 0; j < lags; ++j) s[j] = V::load(row + lanes * j);
      for (std::int64_t k = k0; k < k1; k += lanes) {
        typename V::reg x = V::load(a + k);
#pragma GCC unroll 16
        for (int j = 0; j < lags; ++j) s[j] = V::fmadd(x, V::load(bb + k + j), s[j]);
      }
#pragma GCC unroll 16
      for (int j = 0; j < lags; ++j) V::store(row + lanes * j, s[j]);
    }
  }
  for (std::int64_t j = 0; j < count; ++j) {
    double sum = 0.0;
    for (int r = 0; r < lanes; ++r) sum += acc[lanes * j + r];
    std::int64_t d = first + j;
    for (std::int64_t k = common; k < n - d; ++k) sum += a[k] * b[k + d];
    sums[j] = sum;
  }
}

}  // namespace
}  // namespace best_effort
