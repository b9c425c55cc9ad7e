// A host program of the library, linking it alone: sixteen host threads call
// every function at once and get the bits of a call made alone, and loading
// and calling the library leaves the host's OpenMP settings as they were
// (the tests run in a folder whose maxnumthreads.txt asks for one thread).
#include <gtest/gtest.h>
#include <omp.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "api/api_support.h"
#include "lagscan/lagscan.hpp"
#include "support/temp_dir.h"

namespace lagscan::testing {
namespace {

const matrix_options fast_method{method::fast, 0, {}};

// Everything one round of calls gives, compared to the bit.
struct results {
  double value = 0.0;
  double long_value = 0.0;  // long enough for correlation's own team
  double team_value = 0.0;
  double sum = 0.0;
  lag_profile lags;
  std::vector<double> read;
  std::vector<double> table;
  std::vector<double> fast_table;
  std::vector<double> row;
  std::vector<double> fast_row;
};

bool same(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!same_bits(x[i], y[i])) return false;
  }
  return true;
}

bool same(const results& x, const results& y) {
  return same_bits(x.value, y.value) && same_bits(x.long_value, y.long_value) &&
         same_bits(x.team_value, y.team_value) && same_bits(x.sum, y.sum) && x.lags.lags == y.lags.lags &&
         same(x.lags.sums, y.lags.sums) && same(x.lags.normalised, y.lags.normalised) &&
         x.lags.best_lag == y.lags.best_lag && same(x.read, y.read) && same(x.table, y.table) &&
         same(x.fast_table, y.fast_table) && same(x.row, y.row) && same(x.fast_row, y.fast_row);
}

class many_host_threads : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::uint64_t k = 0; k < 6; ++k) sets_values.push_back(random_values(1500, 40 + k));
    for (std::uint64_t k = 0; k < 2; ++k) long_values.push_back(random_values(12000, 50 + k));
    for (const auto& values : sets_values) sets.emplace_back(values);
    for (std::size_t k = 0; k < 3; ++k) {
      paths.push_back(data.path() / ("set" + std::to_string(k) + ".xy"));
      write_data_file(paths.back(), sets_values[k]);
    }
  }

  // Thread `t`'s round: its own pair, file and options, so that the threads
  // do not all take the same path through the kernels.
  results round(std::size_t t) {
    results r;
    const std::vector<double>& a = sets_values[t % sets_values.size()];
    const std::vector<double>& b = sets_values[(t + 1) % sets_values.size()];
    const int s = 101 + 2 * static_cast<int>(t);
    r.value = correlation(a, b, s);
    r.long_value = correlation(long_values[t % 2], long_values[(t + 1) % 2], s);
    r.team_value = correlation(long_values[t % 2], long_values[(t + 1) % 2], s, 3);
    r.sum = lag_sum(a, b, s);
    r.lags = profile(a, b, s);
    r.read = read_values(paths[t % paths.size()]);
    matrix_options options;
    options.threads = 2;
    r.table = all_pairs(sets, s, options);
    r.row = against(a, sets, s, options);
    options.how = method::fast;
    r.fast_table = all_pairs(sets, s, options);
    r.fast_row = against(a, sets, s, options);
    return r;
  }

  temp_dir data;
  std::vector<std::vector<double>> sets_values;
  std::vector<std::vector<double>> long_values;
  std::vector<std::span<const double>> sets;
  std::vector<std::filesystem::path> paths;
};

TEST_F(many_host_threads, get_the_bits_of_calls_made_alone) {
  constexpr std::size_t thread_count = 16;
  std::vector<results> alone(thread_count);
  for (std::size_t t = 0; t < thread_count; ++t) {
    alone[t] = round(t);
    EXPECT_TRUE(same_bits(alone[t].team_value, alone[t].long_value)) << "a team's value, thread " << t;
  }

  // All threads wait at the gate, so that their calls overlap.
  std::mutex gate;
  std::condition_variable opened;
  bool open = false;
  constexpr int rounds = 3;
  std::vector<std::vector<results>> together(thread_count, std::vector<results>(rounds));
  std::vector<std::string> failures(thread_count);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      {
        std::unique_lock<std::mutex> lock(gate);
        opened.wait(lock, [&] { return open; });
      }
      try {
        for (int k = 0; k < rounds; ++k) together[t][static_cast<std::size_t>(k)] = round(t);
      } catch (const std::exception& error) {
        failures[t] = error.what();
      }
    });
  }
  {
    std::lock_guard<std::mutex> lock(gate);
    open = true;
  }
  opened.notify_all();
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < thread_count; ++t) {
    EXPECT_EQ(failures[t], "") << "thread " << t;
    for (int k = 0; k < rounds; ++k) EXPECT_TRUE(same(together[t][static_cast<std::size_t>(k)], alone[t])) << t;
  }
}

TEST_F(many_host_threads, error_paths_at_once_raise_each_their_own) {
  constexpr std::size_t thread_count = 8;
  std::vector<std::string> messages(thread_count);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 50; ++k) {
        try {
          read_values(data.path() / ("missing" + std::to_string(t) + ".xy"));
        } catch (const file_error& error) {
          messages[t] = error.what();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < thread_count; ++t) {
    const std::string name = "missing" + std::to_string(t) + ".xy";
    EXPECT_EQ(messages[t].rfind("Cannot open file ", 0), 0u) << messages[t];
    EXPECT_NE(messages[t].find(name), std::string::npos) << messages[t];
  }
}

// What the programs' start-up would do, and the library must not: read
// maxnumthreads.txt (here: 1) and set the runtime's thread count to 1 with
// dynamic adjustment on.
TEST(embedding, leaves_the_hosts_openmp_settings_alone) {
  ASSERT_TRUE(std::filesystem::exists("maxnumthreads.txt")) << "run in the folder ctest names";
  const int threads = omp_get_max_threads();
  const int dynamic = omp_get_dynamic();
  if (std::getenv("OMP_NUM_THREADS") == nullptr) {
    EXPECT_EQ(threads, omp_get_num_procs());
  }
  if (std::getenv("OMP_DYNAMIC") == nullptr) {
    EXPECT_EQ(dynamic, 0);
  }
  const std::vector<double> a = random_values(100, 1);
  const std::vector<std::span<const double>> sets{a, a};
  all_pairs(sets, 5);
  all_pairs(sets, 5, fast_method);
  EXPECT_EQ(omp_get_max_threads(), threads);
  EXPECT_EQ(omp_get_dynamic(), dynamic);
}

}  // namespace
}  // namespace lagscan::testing
