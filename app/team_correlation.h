// One correlation formed by a team of threads, for long sequences. A lag
// sum is formed whole by one thread, and the sums are weighted and added in
// the one order of lag_correlation.h, so the value has its bits on any team.
#pragma once

#include <cstdint>

#include "memory/arrays.h"

namespace lagscan {

// lag_correlation(w, a, b) on a team of `team` OpenMP threads (the calling
// thread alone when team < 2). The lag sums are cut into `team` shares of
// nearly equal products; a share may be empty.
double team_lag_correlation(const real_array& w, const real_array& a, const real_array& b, int team);

// The team worth starting for two sequences of n values and a window of
// width s: up to `threads`, and no more than the products give work for (a
// team's start and end cost some microseconds), at least 1.
int worthwhile_team(std::int64_t n, std::int32_t s, int threads);

}  // namespace lagscan
