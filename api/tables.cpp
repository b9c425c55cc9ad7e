// The table of all pairs in the shapes other tools take: its condensed
// upper triangle, and each sequence's nearest, neither holding the table.

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "api/checks.h"
#include "api/library_calls.h"
#include "api/sets.h"
#include "lagscan/lagscan.hpp"
#include "groups/clustering.h"
#include "sets/tiles.h"

namespace lagscan {
namespace {

// The state every call on a whole set starts from.
struct set_call {
  set_call(sequences sets, int s, const matrix_options& options)
      : threads((api::check_width(s), api::team_size(options.threads))),
        arrays(sets, api::common_count(sets), options.center),
        call(options.progress) {
    api::make_window(window, s);
  }
  int threads;
  api::input_sets arrays;
  real_array window;
  api::call_meter call;
};

// One candidate of a sequence's list of nearest.
struct candidate {
  double value;
  std::size_t position;
};

bool nearer(const candidate& p, const candidate& q) {
  return matrix::nearer(p.value, p.position, q.value, q.position);
}

// Each sequence's k nearest so far, for each thread apart: no lock on the
// pairs' path. A list is a heap with its farthest candidate on top.
class nearest_lists {
 public:
  nearest_lists(std::size_t n, std::size_t k, int threads)
      : n_(n), k_(k), heaps_(static_cast<std::size_t>(threads) * n * k), counts_(static_cast<std::size_t>(threads) * n) {}

  void offer(std::size_t thread, std::size_t row, candidate c) {
    candidate* heap = heaps_.data() + (thread * n_ + row) * k_;
    std::size_t& count = counts_[thread * n_ + row];
    if (count < k_) {
      heap[count++] = c;
      std::push_heap(heap, heap + count, nearer);
    } else if (nearer(c, heap[0])) {
      std::pop_heap(heap, heap + k_, nearer);
      heap[k_ - 1] = c;
      std::push_heap(heap, heap + k_, nearer);
    }
  }

  // Row `row`'s k nearest over every thread's list, nearest first. The
  // order is total (positions differ), so the threads' shares do not show.
  std::vector<candidate> merged(std::size_t row, int threads) const {
    std::vector<candidate> all;
    for (std::size_t t = 0; t < static_cast<std::size_t>(threads); ++t) {
      const candidate* heap = heaps_.data() + (t * n_ + row) * k_;
      all.insert(all.end(), heap, heap + counts_[t * n_ + row]);
    }
    const std::size_t keep = std::min(all.size(), k_);
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep), all.end(), nearer);
    all.resize(keep);
    return all;
  }

 private:
  std::size_t n_;
  std::size_t k_;
  std::vector<candidate> heaps_;
  std::vector<std::size_t> counts_;
};

}  // namespace

inline namespace v0 {

std::vector<double> condensed(sequences sets, int s, measure kind, const matrix_options& options) {
  return api::library_call([&] {
    set_call run(sets, s, options);
    const std::size_t n = sets.size();
    std::vector<double> values(n < 2 ? 0 : n * (n - 1) / 2);
    const bool distances = kind == measure::distance;
    api::visit_pairs(run.window, run.arrays.pointers(), 0, options.how == method::fast, run.threads, run.call.get(),
                     [&](std::size_t x, std::size_t y, double value) {
                       values[matrix::condensed_index(n, x, y)] = distances ? matrix::distance_of(value) : value;
                     });
    run.call.check();
    return values;
  });
}

neighbours nearest(sequences sets, int s, std::size_t top, const matrix_options& options) {
  return api::library_call([&] {
    if (top == 0) throw std::invalid_argument("top must be at least 1");
    set_call run(sets, s, options);
    const std::size_t n = sets.size();
    // No list holds more than the n - 1 others, however large top is.
    const std::size_t k = std::min(top, n > 0 ? n - 1 : 0);
    nearest_lists lists(n, k, run.threads);
    if (k > 0) {
      api::visit_pairs(run.window, run.arrays.pointers(), 0, options.how == method::fast, run.threads,
                       run.call.get(), [&](std::size_t x, std::size_t y, double value) {
                         const auto thread = static_cast<std::size_t>(omp_get_thread_num());
                         lists.offer(thread, x, {value, y});
                         lists.offer(thread, y, {value, x});
                       });
    }
    run.call.check();
    neighbours result;
    result.top = top;
    result.positions.assign(n * top, no_item);
    result.values.assign(n * top, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < n; ++i) {
      const std::vector<candidate> best = lists.merged(i, run.threads);
      for (std::size_t j = 0; j < best.size(); ++j) {
        result.positions[i * top + j] = best[j].position;
        result.values[i * top + j] = best[j].value;
      }
    }
    return result;
  });
}

}  // namespace v0
}  // namespace lagscan
