// Many sequences at once, through lagscan-matrix's own computation: the
// table of all pairs, one against many, and the tiles of a table.

#include <algorithm>
#include <exception>
#include <utility>

#include "api/checks.h"
#include "api/library_calls.h"
#include "api/sets.h"
#include "lagscan/lagscan.hpp"
#include "app/lag_correlation.h"
#include "matrix/fast_pairs.h"
#include "matrix/similarity.h"
#include "sets/tiles.h"
#include "matrix/window_sums.h"

namespace lagscan {
inline namespace v0 {

std::vector<double> all_pairs(sequences sets, int s, const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    api::input_sets arrays(sets, api::common_count(sets), options.center);
    real_array window;
    api::make_window(window, s);
    api::call_meter call(options.progress);
    matrix::progress_meter& meter = call.get();
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
      call.check();
      return values;
    }
    std::vector<double> values = matrix::all_pairs(window, arrays.pointers(), rows, threads, meter);
    call.check();
    return values;
  });
}

std::vector<double> all_pairs(sequences a, sequences b, int s, const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    // A followed by B, as all_pairs of their union sees them.
    std::vector<std::span<const double>> both(a.begin(), a.end());
    both.insert(both.end(), b.begin(), b.end());
    api::input_sets arrays(both, api::common_count(a, b), options.center);
    real_array window;
    api::make_window(window, s);
    api::call_meter call(options.progress);
    std::vector<double> values(a.size() * b.size());
    const std::size_t split = a.size();
    const std::size_t width = b.size();
    if (split > 0 && width > 0) {
      api::visit_pairs(window, arrays.pointers(), split, options.how == method::fast, threads, call.get(),
                       [&](std::size_t x, std::size_t y, double value) { values[x * width + (y - split)] = value; });
    }
    call.check();
    return values;
  });
}

std::vector<double> against(std::span<const double> reference, sequences sets, int s,
                            const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    const std::span<const double> reference_only[] = {reference};
    api::input_sets own(reference_only, reference.size(), options.center);
    api::input_sets arrays(sets, reference.size(), options.center);
    const real_array& ref = *own.pointers()[0];
    real_array window;
    api::make_window(window, s);
    api::call_meter call(options.progress);
    matrix::progress_meter& meter = call.get();
    std::vector<double> values;
    if (options.how == method::fast) {
      const bool reference_outside = matrix::outside_fast_domain(window, own.pointers(), threads)[0] != 0;
      const std::vector<char> outside = matrix::outside_fast_domain(window, arrays.pointers(), threads);
      values = matrix::against_fast(window, ref, reference_outside, arrays.pointers(), outside, threads, meter);
    } else {
      values = matrix::against(window, ref, arrays.pointers(), threads, meter);
    }
    call.check();
    return values;
  });
}

tile_size tile_shape(std::size_t files, std::size_t blocks, std::size_t number) {
  return api::library_call([&] {
    matrix::tile_choice choice;
    // Beyond max_blocks the count of tiles, K (K + 1) / 2, would soon pass
    // 64 bits; nobody needs 5 * 10^11 tasks.
    if (blocks > max_blocks || !matrix::tile_of(number, blocks, choice)) {
      throw std::invalid_argument("no tile " + std::to_string(number) + " of " + std::to_string(blocks) +
                                  " blocks (blocks from 1 to " + std::to_string(max_blocks) + ")");
    }
    return tile_size{matrix::row_block(files, choice.row_block, blocks).size(),
                     matrix::row_block(files, choice.column_block, blocks).size()};
  });
}

std::vector<double> tile(sequences sets, std::size_t files, std::size_t blocks, std::size_t number, int s,
                         const matrix_options& options) {
  return api::library_call([&] {
    api::check_width(s);
    const int threads = api::team_size(options.threads);
    tile_shape(files, blocks, number);
    matrix::tile_choice choice;
    matrix::tile_of(number, blocks, choice);
    if (matrix::tile_files(files, choice).size() != sets.size()) {
      throw std::invalid_argument("tile " + std::to_string(number) + " of " + std::to_string(blocks) +
                                  " blocks of " + std::to_string(files) + " sequences holds " +
                                  std::to_string(matrix::tile_files(files, choice).size()) + ", not " +
                                  std::to_string(sets.size()));
    }
    api::input_sets arrays(sets, api::common_count(sets), options.center);
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

}  // namespace v0
}  // namespace lagscan
