// The ways of computing C(W; X, Y) of lag_correlation.h. Every path gives
// the bits of the reference order; they differ only in speed.
#pragma once

#include "memory/arrays.h"

namespace lagscan {

enum class lag_path {
  reference,  // the plain loop over lags, one lag at a time
  sse2,       // several lags per pass on 128-bit vectors, any x86-64 CPU
  avx2,       // 256-bit vectors
  avx512,     // 512-bit vectors
};

inline constexpr lag_path all_lag_paths[] = {lag_path::reference, lag_path::sse2, lag_path::avx2, lag_path::avx512};

const char* lag_path_name(lag_path path);

// Whether this CPU and OS can run the path.
bool lag_path_available(lag_path path);

// The path lag_product_sum takes: the fastest available one, or the
// reference in a build configured with LAGSCAN_REFERENCE_PATHS for
// comparisons.
lag_path chosen_lag_path();

// C(W; X, Y) on the given path, which must be available. Lags that do not
// overlap are skipped, so W must hold finite non-negative weights (as
// make_triangle_window makes them): each skipped lag would add +0.0 to a
// total that is never -0.0. With X and Y the same sequence, each lag sum
// serves lags -m and +m alike.
double lag_product_sum_on(lag_path path, const real_array& w, const real_array& x, const real_array& y);

// The lag sums themselves, unweighted: sums[reach + m] = the sum over i of
// X[i] * Y[i + m] for m = -reach .. reach, each with the bits that
// lag_product_sum_on weights and adds for that lag on any path. reach must
// be below count(X) (every lag overlaps); Y holds at least count(X) elements.
void unweighted_lag_sums_on(lag_path path, const real_array& x, const real_array& y, std::int64_t reach, double* sums);

// Any run of them: sums[j] = the lag sum of lag first + j, 0 <= j < count,
// with the same bits as above. Every lag of the run must overlap
// (|lag| < count(X)). Runs of one sum cut anywhere give the same bits, so
// threads may form the pieces of one correlation.
void lag_sums_on(lag_path path, const real_array& x, const real_array& y, std::int64_t first, std::int64_t count,
                 double* sums);

}  // namespace lagscan
