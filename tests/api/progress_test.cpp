// The matrices' progress function: called on the calling thread only, with
// counts that grow to the total, and a cancel that stops a large matrix
// within a second and leaves the call as lagscan::cancelled.
#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "api/api_support.h"
#include "lagscan/lagscan.hpp"

namespace lagscan::testing {
namespace {

using clock_type = std::chrono::steady_clock;

// Sets of `n` values, many enough that all their pairs take minutes.
struct large_sets {
  large_sets(std::size_t count, std::size_t n) {
    for (std::size_t k = 0; k < count; ++k) values.push_back(random_values(n, 500 + k));
    for (const auto& v : values) sets.emplace_back(v);
  }
  std::vector<std::vector<double>> values;
  std::vector<std::span<const double>> sets;
};

TEST(progress, is_reported_on_the_calling_thread_up_to_the_total) {
  large_sets data(40, 2000);
  for (method how : {method::exact, method::fast}) {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<progress_info> seen;
    bool other_thread = false;
    matrix_options options;
    options.how = how;
    options.threads = 4;
    options.progress = [&](const progress_info& info) {
      if (std::this_thread::get_id() != caller) other_thread = true;
      seen.push_back(info);
      return true;
    };
    std::vector<double> table = all_pairs(data.sets, 101, options);
    EXPECT_EQ(table.size(), 40u * 40u);
    EXPECT_FALSE(other_thread);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().done, 0u);
    EXPECT_EQ(seen.back().done, 40u * 39u / 2);
    for (std::size_t k = 0; k < seen.size(); ++k) {
      EXPECT_EQ(seen[k].total, 40u * 39u / 2);
      if (k > 0) {
        EXPECT_GE(seen[k].done, seen[k - 1].done);
      }
    }
    seen.clear();
    std::vector<double> row = against(data.sets[0], data.sets, 101, options);
    EXPECT_EQ(row.size(), 40u);
    EXPECT_FALSE(other_thread);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back().done, 40u);
    EXPECT_EQ(seen.back().total, 40u);
  }
}

// Pairs of 4000 values at s = 201 take a quarter of a millisecond each in
// an optimised build; 300 sets make 44,850 of them, many seconds of work,
// while each set's own sum, formed before the first report, takes 1/150 of
// it. The function asks to stop after a quarter of a second of work.
TEST(progress, a_cancel_stops_a_large_matrix_within_a_second) {
  large_sets data(300, 4000);
  for (int threads : {1, 4}) {
    clock_type::time_point cancelled_at{};
    std::size_t calls = 0;
    matrix_options options;
    options.threads = threads;
    const clock_type::time_point started = clock_type::now();
    options.progress = [&](const progress_info& info) {
      ++calls;
      if (info.done == 0 || clock_type::now() - started < std::chrono::milliseconds(250)) return true;
      cancelled_at = clock_type::now();
      return false;
    };
    EXPECT_THROW(all_pairs(data.sets, 201, options), cancelled);
    const clock_type::time_point ended = clock_type::now();
    ASSERT_NE(cancelled_at, clock_type::time_point{}) << "the function was never asked after the start";
    EXPECT_LT(ended - cancelled_at, std::chrono::seconds(1)) << threads << " threads";
    EXPECT_GE(calls, 2u);
  }
}

TEST(progress, a_cancel_at_the_start_computes_nothing_more) {
  large_sets data(300, 4000);
  for (method how : {method::exact, method::fast}) {
    matrix_options options;
    options.how = how;
    options.threads = 2;
    options.progress = [](const progress_info&) { return false; };
    const clock_type::time_point started = clock_type::now();
    EXPECT_THROW(all_pairs(data.sets, 201, options), cancelled);
    EXPECT_THROW(against(data.sets[0], data.sets, 201, options), cancelled);
    // Only each set's own sum is formed before the first report.
    EXPECT_LT(clock_type::now() - started, std::chrono::seconds(20));
  }
  try {
    throw cancelled();
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "cancelled");
  }
}

TEST(progress, what_the_function_throws_leaves_the_call) {
  large_sets data(50, 5000);
  struct stop_here : std::exception {};
  matrix_options options;
  options.threads = 3;
  int calls = 0;
  options.progress = [&](const progress_info&) -> bool {
    if (++calls == 2) throw stop_here();
    return true;
  };
  EXPECT_THROW(all_pairs(data.sets, 1001, options), stop_here);
}

// A count above the processors is taken as their number: the progress
// function, called by the team's first thread while the work goes on, sees
// the team's size. (libgomp would start every thread asked for, and reserve
// each one's stack, 2^31 - 1 of them for a careless count.)
TEST(progress, a_team_is_never_larger_than_the_processors) {
  large_sets data(40, 20000);
  int largest_team = 0;
  int reports = 0;
  matrix_options options;
  options.threads = 64;
  options.progress = [&](const progress_info&) {
    largest_team = std::max(largest_team, omp_get_num_threads());
    ++reports;
    return true;
  };
  all_pairs(data.sets, 201, options);
  // No more threads than processors. (Which thread reports is the
  // runtime's affair: under wine the reports may all come from one.)
  EXPECT_GE(largest_team, 1) << reports << " reports";
  EXPECT_LE(largest_team, omp_get_num_procs()) << reports << " reports";
}

}  // namespace
}  // namespace lagscan::testing
