#include "api/sets.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>

#include "api/checks.h"
#include "app/lag_correlation.h"
#include "matrix/center.h"
#include "matrix/fast_pairs.h"
#include "matrix/similarity.h"

namespace lagscan::api {
namespace {

// The library's progress function is asked more often than the program's
// line is drawn, so that a cancel takes effect soon.
constexpr double progress_interval = 0.1;  // seconds

matrix::progress_report report_to(const progress_function& progress) {
  if (!progress) return {};
  return [&progress](const matrix::progress_state& state) {
    return progress(progress_info{static_cast<std::size_t>(state.done), static_cast<std::size_t>(state.total)});
  };
}

// The own sums C(X, X) of the sets flagged in `needed`, by the exact path.
std::vector<double> exact_own_sums(const real_array& window, const std::vector<const real_array*>& sets,
                                   const std::vector<char>& needed, int threads) {
  std::vector<double> own(sets.size());
  const auto count = static_cast<std::int64_t>(sets.size());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t k = 0; k < count; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (needed[i]) own[i] = lag_product_sum(window, *sets[i], *sets[i]);
  }
  return own;
}

// The pairs x < y (with split, x < split <= y) that `keep` keeps, by the
// exact path of all_pairs: the earlier sequence as A, each own sum formed
// once. Rows go one at a time to the threads, so the long ones spread.
void exact_pairs(const real_array& window, const std::vector<const real_array*>& sets, std::size_t split,
                 const std::vector<double>& own, int threads, matrix::progress_meter* meter,
                 const std::function<bool(std::size_t, std::size_t)>& keep, const pair_sink& put) {
  const std::size_t n = sets.size();
  const auto rows = static_cast<std::int64_t>(split > 0 ? split : n);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (std::int64_t row = 0; row < rows; ++row) {
    const auto x = static_cast<std::size_t>(row);
    for (std::size_t y = std::max(x + 1, split); y < n; ++y) {
      if (meter != nullptr && meter->stopped()) break;
      if (!keep(x, y)) continue;
      put(x, y, normalised_correlation(lag_product_sum(window, *sets[x], *sets[y]), own[x], own[y]));
      if (meter != nullptr) meter->count_one();
    }
  }
}

}  // namespace

input_sets::input_sets(sequences sets, std::size_t count, bool center) : arrays_(sets.size()) {
  pointers_.reserve(sets.size());
  for (std::size_t i = 0; i < sets.size(); ++i) {
    check_same_count(count, sets[i].size());
    borrowed_values check(sets[i]);  // the size limit
    real_array& array = arrays_[i];
    if (center && check.get().count > 0) {
      array.reserve(check.get().count, false);
      std::memcpy(array.buffer, sets[i].data(), sets[i].size() * sizeof(double));
      array.count = check.get().count;
      matrix::center_values(array);
    } else {
      array.buffer = const_cast<double*>(sets[i].data());  // read only: no kernel writes its inputs
      array.count = check.get().count;
    }
    pointers_.push_back(&array);
  }
}

std::size_t common_count(sequences sets) { return sets.empty() ? 0 : sets[0].size(); }

std::size_t common_count(sequences a, sequences b) { return a.empty() ? common_count(b) : a[0].size(); }

call_meter::call_meter(const progress_function& progress) : meter_(report_to(progress), progress_interval) {}

void call_meter::check() const {
  if (std::exception_ptr failure = meter_.failure()) std::rethrow_exception(failure);
  if (meter_.stopped()) throw cancelled();
}

void visit_pairs(const real_array& window, const std::vector<const real_array*>& sets, std::size_t split, bool fast,
                 int threads, matrix::progress_meter& meter, const pair_sink& put) {
  const std::size_t n = sets.size();
  auto wanted = [split](std::size_t x, std::size_t y) { return split == 0 || (x < split && y >= split); };
  if (!fast) {
    const std::vector<double> own = exact_own_sums(window, sets, std::vector<char>(n, 1), threads);
    const std::uint64_t total =
        split > 0 ? std::uint64_t{split} * (n - split) : std::uint64_t{n} * (n > 0 ? n - 1 : 0) / 2;
    meter.start(total);
    exact_pairs(window, sets, split, own, threads, &meter, wanted, put);
    meter.finish();
    return;
  }
  // The window sums' grid of the whole set, as all_pairs_fast forms it: a
  // pair's bits depend on its two positions and the set's size alone.
  const std::vector<char> outside = matrix::outside_fast_domain(window, sets, threads);
  const bool all_inside = std::find(outside.begin(), outside.end(), 1) == outside.end();
  {
    const matrix::window_sum_rows sums = matrix::make_window_sum_rows(window, sets, threads);
    // The tiles grid_pairs cuts the set into, for the same threads.
    const std::size_t side = matrix::grid_side(n, threads);
    auto tile_wanted = [&](std::size_t ta, std::size_t tb) {
      return split == 0 || (ta * side < split && (tb + 1) * side > split);
    };
    auto inside_put = [&](std::size_t x, std::size_t y, double value) {
      if (wanted(x, y) && !outside[x] && !outside[y]) put(x, y, value);
    };
    const matrix::held_sums all{&sums, 0};
    matrix::grid_pairs(all, all, n, threads, meter, inside_put, tile_wanted);
  }
  if (all_inside || meter.stopped()) return;
  // The pairs with a sequence outside the domain, as
  // exact_pairs_outside_domain forms them: exact own sums for both.
  std::vector<char> needed(n, 0);
  const bool any_a = std::find(outside.begin(), outside.begin() + static_cast<std::ptrdiff_t>(split), 1) !=
                     outside.begin() + static_cast<std::ptrdiff_t>(split);
  const bool any_b = std::find(outside.begin() + static_cast<std::ptrdiff_t>(split), outside.end(), 1) != outside.end();
  for (std::size_t i = 0; i < n; ++i) {
    const bool partner_outside = split == 0 ? true : (i < split ? any_b : any_a);
    needed[i] = outside[i] || partner_outside;
  }
  const std::vector<double> own = exact_own_sums(window, sets, needed, threads);
  exact_pairs(window, sets, split, own, threads, nullptr,
              [&](std::size_t x, std::size_t y) { return wanted(x, y) && (outside[x] || outside[y]); }, put);
}

}  // namespace lagscan::api
