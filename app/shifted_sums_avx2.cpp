// Shifted sums with one 256-bit vector per lag. Compiled with -mavx2 and
// called only when the CPU has AVX2.
#include "app/shifted_sums_body.h"

namespace lagscan {
namespace {

// Sixteen registers: eight lags, the shared x values and a loaded b.
constexpr std::size_t accumulators = 8;

}  // namespace

void shifted_sums_avx2(const double* a, const double* b, std::int64_t n, std::int64_t first, std::int32_t count,
                       double* sums) {
  static constexpr block_kind blocks[] = {plain_blocks<avx2_lanes, accumulators>()};
  shifted_sums_in<avx2_lanes, accumulators>(blocks, a, b, n, first, count, sums);
}

}  // namespace lagscan
