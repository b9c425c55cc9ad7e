#include "app/team_correlation.h"

#include <algorithm>
#include <cstdlib>

#include "app/lag_correlation.h"
#include "app/lag_kernels.h"

namespace lagscan {
namespace {

// The products that pay for one more thread: a team's start and end take
// some microseconds, about what one thread needs for this many.
constexpr std::int64_t products_per_thread = std::int64_t{1} << 19;

// A run of consecutive lag sums of one pair of sequences.
struct lag_run {
  const real_array* x;
  const real_array* y;
  std::int64_t first;  // lag of sums[0]
  std::int64_t count;
  double* sums;
};

// The correlation's three runs, concatenated: the cross sums of lags
// -reach .. reach, then each sequence's own sums of lags 0 .. reach (a self
// sum is the same for -m and +m). Lag k of the whole is some run's lag; the
// lags are cut into `team` shares of nearly equal products, and a share's
// part of each run is formed by one call, with the bits of any other cut.
class lag_work {
 public:
  lag_work(const real_array& a, const real_array& b, std::int64_t reach, double* cross, double* own_a, double* own_b)
      : n_(a.count),
        runs_{lag_run{&a, &b, -reach, 2 * reach + 1, cross}, lag_run{&a, &a, 0, reach + 1, own_a},
              lag_run{&b, &b, 0, reach + 1, own_b}} {}

  std::int64_t lags() const { return runs_[0].count + runs_[1].count + runs_[2].count; }

  // The products of lag k of the whole.
  std::int64_t products(std::int64_t k) const {
    for (const lag_run& run : runs_) {
      if (k < run.count) return n_ - std::abs(run.first + k);
      k -= run.count;
    }
    return 0;
  }

  // Forms lags begin .. end - 1 of the whole.
  void form(lag_path path, std::int64_t begin, std::int64_t end) const {
    std::int64_t offset = 0;  // of the run in the whole
    for (const lag_run& run : runs_) {
      std::int64_t from = std::max(begin - offset, std::int64_t{0});
      std::int64_t to = std::min(end - offset, run.count);
      if (from < to) lag_sums_on(path, *run.x, *run.y, run.first + from, to - from, run.sums + from);
      offset += run.count;
    }
  }

 private:
  std::int64_t n_;
  lag_run runs_[3];
};

// Σ weight[m] * sums[m] in ascending m, as the single-threaded sum adds
// them; own_sums holds lags 0 .. reach and serves -m too.
double weighted(const double* weight, const double* sums, std::int64_t reach) {
  double total = 0.0;
  for (std::int64_t m = -reach; m <= reach; ++m) total += sums[m] * weight[m];
  return total;
}

double weighted_own(const double* weight, const double* own_sums, std::int64_t reach) {
  double total = 0.0;
  for (std::int64_t m = -reach; m <= reach; ++m) total += own_sums[m < 0 ? -m : m] * weight[m];
  return total;
}

}  // namespace

int worthwhile_team(std::int64_t n, std::int32_t s, int threads) {
  const std::int64_t reach = std::min<std::int64_t>(s >> 1, n - 1);
  const std::int64_t products = reach < 0 ? 0 : 3 * n * (reach + 1);  // about
  return static_cast<int>(std::clamp<std::int64_t>(products / products_per_thread, 1, std::max(threads, 1)));
}

double team_lag_correlation(const real_array& w, const real_array& a, const real_array& b, int team) {
  const std::int64_t n = a.count;
  const std::int64_t h = w.count >> 1;
  const std::int64_t reach = std::min(h, n - 1);  // the farthest lag that overlaps
  if (team < 2 || reach < 0) return lag_correlation(w, a, b);

  real_array sums;
  sums.reserve(4 * reach + 3, false);
  double* cross = sums.buffer;
  double* own_a = cross + 2 * reach + 1;
  double* own_b = own_a + reach + 1;
  const lag_work work(a, b, reach, cross, own_a, own_b);

  // Share t is lags cuts[t] .. cuts[t + 1] - 1 of the whole, and ends where
  // the products so far reach (t + 1) / team of all.
  growable_array<std::int64_t> cuts;
  cuts.reserve(team + 1, false);
  std::int64_t total = 0;
  for (std::int64_t k = 0; k < work.lags(); ++k) total += work.products(k);
  cuts[0] = 0;
  int share = 1;
  std::int64_t so_far = 0;
  for (std::int64_t k = 0; k < work.lags() && share < team; ++k) {
    so_far += work.products(k);
    // In doubles: the products of 2^30 values over as many lags, times the
    // team, would pass 2^63.
    while (share < team && static_cast<double>(so_far) * team >= static_cast<double>(total) * share) {
      cuts[share++] = k + 1;
    }
  }
  while (share <= team) cuts[share++] = work.lags();

  const lag_path path = chosen_lag_path();
#pragma omp parallel for num_threads(team) schedule(static, 1)
  for (int t = 0; t < team; ++t) work.form(path, cuts[t], cuts[t + 1]);

  const double* weight = w.buffer + h;
  return normalised_correlation(weighted(weight, cross + reach, reach), weighted_own(weight, own_a, reach),
                                weighted_own(weight, own_b, reach));
}

}  // namespace lagscan
