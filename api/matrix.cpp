// Many sequences at once, through lagscan-matrix's own computation.

#include <algorithm>
#include <exception>
#include <utility>

#include "api/checks.h"
#include "api/library_calls.h"
#include "lagscan/lagscan.hpp"
#include "app/lag_correlation.h"
#include "matrix/fast_pairs.h"
#include "matrix/similarity.h"
#include "sets/tiles.h"
#include "matrix/window_sums.h"

namespace lagscan {
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

// The host's sequences as our arrays, without a copy, all of `count` values.
class borrowed_sets {
 public:
  borrowed_sets(std::span<const std::span<const double>> sets, std::size_t count) : arrays_(sets.size()) {
    pointers_.reserve(sets.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
      api::check_same_count(count, sets[i].size());
      api::borrowed_values check(sets[i]);  // the size limit
      arrays_[i].buffer = const_cast<double*>(sets[i].data());
      arrays_[i].count = check.get().count;
      pointers_.push_back(&arrays_[i]);
    }
  }
  const std::vector<const real_array*>& pointers() const { return pointers_; }

 private:
  std::vector<real_array> arrays_;  // capacity 0: they free nothing
  std::vector<const real_array*> pointers_;
};

// The values when the meter ran to the end; else why it stopped.
std::vector<double> finished(const matrix::progress_meter& meter, std::vector<double> values) {
  if (std::exception_ptr failure = meter.failure()) std::rethrow_exception(failure);
  if (meter.stopped()) throw cancelled();
  return values;
}

}  // namespace

std::vector<double> all_pairs(std::span<const std::span<const double>> sets, int s, const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    borrowed_sets arrays(sets, sets.empty() ? 0 : sets[0].size());
    real_array window;
    api::make_window(window, s);
    matrix::progress_meter meter(report_to(options.progress), progress_interval);
    const matrix::row_range rows{0, sets.size()};
    if (options.how == method::fast) {
      // Sequences outside the window sums' domain (sums that overflow, inf
      // or nan) have their pairs formed exactly, as lagscan-matrix --fast does.
      const std::vector<char> outside = matrix::outside_fast_domain(window, arrays.pointers(), threads);
      const matrix::window_sum_rows sums = matrix::make_window_sum_rows(window, arrays.pointers(), threads);
      std::vector<double> values = matrix::all_pairs_fast(sums, rows, threads, meter);
      if (!meter.stopped() && std::find(outside.begin(), outside.end(), 1) != outside.end()) {
        matrix::exact_pairs_outside_domain(window, arrays.pointers(), outside, rows, values, threads);
      }
      return finished(meter, std::move(values));
    }
    return finished(meter, matrix::all_pairs(window, arrays.pointers(), rows, threads, meter));
  });
}

std::vector<double> against(std::span<const double> reference, std::span<const std::span<const double>> sets, int s,
                            const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    api::borrowed_values own(reference);
    borrowed_sets arrays(sets, reference.size());
    real_array window;
    api::make_window(window, s);
    matrix::progress_meter meter(report_to(options.progress), progress_interval);
    if (options.how == method::fast) {
      const std::vector<const real_array*> reference_only{&own.get()};
      const bool reference_outside = matrix::outside_fast_domain(window, reference_only, threads)[0] != 0;
      const std::vector<char> outside = matrix::outside_fast_domain(window, arrays.pointers(), threads);
      return finished(meter, matrix::against_fast(window, own.get(), reference_outside, arrays.pointers(), outside,
                                                  threads, meter));
    }
    return finished(meter, matrix::against(window, own.get(), arrays.pointers(), threads, meter));
  });
}

std::vector<double> tile(std::span<const std::span<const double>> sets, std::size_t files, std::size_t blocks,
                         std::size_t number, int s, const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    matrix::tile_choice choice;
    if (!matrix::tile_of(number, blocks, choice)) {
      throw std::invalid_argument("no tile " + std::to_string(number) + " of " + std::to_string(blocks) + " blocks");
    }
    if (matrix::tile_files(files, choice).size() != sets.size()) {
      throw std::invalid_argument("tile " + std::to_string(number) + " of " + std::to_string(blocks) +
                                  " blocks of " + std::to_string(files) + " sequences holds " +
                                  std::to_string(matrix::tile_files(files, choice).size()) + ", not " +
                                  std::to_string(sets.size()));
    }
    borrowed_sets arrays(sets, sets.empty() ? 0 : sets[0].size());
    // The tile's own storage views the host's sequences (capacity 0: it
    // frees nothing).
    std::vector<matrix::data_file> held(sets.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
      held[i].values.buffer = arrays.pointers()[i]->buffer;
      held[i].values.count = arrays.pointers()[i]->count;
    }
    real_array window;
    api::make_window(window, s);
    const bool fast = options.how == method::fast;
    const std::vector<char> outside =
        fast ? matrix::outside_fast_domain(window, arrays.pointers(), threads) : std::vector<char>();
    const matrix::row_range rows = matrix::row_block(files, choice.row_block, blocks);
    const std::size_t width = matrix::row_block(files, choice.column_block, blocks).size();
    // The diagonal as one run forms it: from the own sum of the exact path,
    // or (--fast, inside its domain) of the window sums.
    std::vector<double> diagonal;
    if (choice.row_block == choice.column_block) {
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const real_array& x = *arrays.pointers()[i];
        double own = 0;
        if (fast && !outside[i]) {
          std::vector<double> sums(matrix::window_sum_length(x.count, window.count >> 1));
          matrix::window_sums(x.buffer, x.count, window.count >> 1, sums.data());
          own = matrix::accurate_dot(sums.data(), sums.data(), sums.size());
        } else {
          own = lag_product_sum(window, x, x);
        }
        diagonal.push_back(normalised_correlation(own, own, own));
      }
    }
    matrix::tile_job job{choice, s, fast, 0, threads, false, outside};
    matrix::tile_values values = matrix::compute_tile(job, files, held);
    for (std::size_t i = 0; i < diagonal.size(); ++i) values.values[i * width + i] = diagonal[i];
    return std::move(values.values);
  });
}

}  // namespace lagscan
