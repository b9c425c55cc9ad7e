// --fast's all pairs as the library forms them: every value the bits of the
// documented order (a plain loop over the window sums, then the
// normalisation), on 1, 2, 3 and 8 threads, in row blocks and in tiles of
// 2 to 5 blocks; and a failure to get storage inside a parallel region
// reaches the caller as std::bad_alloc instead of ending the process.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "app/lag_correlation.h"
#include "matrix/fast_pairs.h"
#include "matrix/progress.h"
#include "matrix/similarity.h"
#include "sets/tiles.h"
#include "matrix/window_sums.h"
#include "memory/heap_3.h"
#include "platform/process_heap.h"

namespace lagscan::matrix {
namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

double plain_sum(const double* a, const double* b, std::size_t length) {
  volatile double sum = 0.0;
  for (std::size_t k = 0; k < length; ++k) {
    volatile double product = a[k] * b[k];
    sum = sum + product;
  }
  return sum;
}

void make_window(real_array& w, std::int32_t s) {
  w.reserve(s, false);
  w.count = s;
  make_triangle_window(w);
}

// `files` random walks of n values; some on an offset, one all zero.
struct random_set {
  std::vector<real_array> arrays;
  std::vector<const real_array*> pointers;
  random_set(std::size_t files, std::int32_t n, std::uint64_t seed) : arrays(files) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> step;
    for (std::size_t f = 0; f < files; ++f) {
      double y = f % 5 == 2 ? 1e4 : 0.0;
      arrays[f].reserve(n, false);
      for (std::int32_t i = 0; i < n; ++i) arrays[f].append(f == 7 ? 0.0 : (y += step(rng)));
      pointers.push_back(&arrays[f]);
    }
  }
};

constexpr std::int32_t values = 90;
constexpr std::int32_t width = 21;
// Past one tile of 256 files, so that the grid has remainders at every side
// the thread counts choose (256, 128, 64).
constexpr std::size_t set_files = 301;

class fast_pairs_values : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    set = new random_set(set_files, values, 5);
    window = new real_array;
    make_window(*window, width);
    rows = new window_sum_rows(make_window_sum_rows(*window, set->pointers, 2));
  }
  static void TearDownTestSuite() {
    delete rows;
    delete window;
    delete set;
  }

  // The documented value of pair (x, y).
  static double expected(std::size_t x, std::size_t y) {
    if (x == y) return normalised_correlation(rows->own[x], rows->own[x], rows->own[x]);
    const double* a = rows->sums.data() + x * rows->length;
    const double* b = rows->sums.data() + y * rows->length;
    return normalised_correlation(plain_sum(a, b, rows->length), rows->own[x], rows->own[y]);
  }

  static random_set* set;
  static real_array* window;
  static window_sum_rows* rows;
};
random_set* fast_pairs_values::set = nullptr;
real_array* fast_pairs_values::window = nullptr;
window_sum_rows* fast_pairs_values::rows = nullptr;

TEST_F(fast_pairs_values, every_thread_count_and_row_block_gives_the_bits_of_the_documented_order) {
  for (int threads : {1, 2, 3, 8}) {
    for (const row_range block : {row_range{0, set_files}, row_range{0, 1}, row_range{63, 200}, row_range{255, 301}}) {
      const std::vector<double> got = all_pairs_fast(*rows, block, threads, false);
      ASSERT_EQ(got.size(), block.size() * set_files);
      int wrong = 0;
      for (std::size_t x = block.first; x < block.end; ++x) {
        for (std::size_t y = 0; y < set_files; ++y) {
          const double value = got[(x - block.first) * set_files + y];
          if (bits_of(value) != bits_of(expected(std::min(x, y), std::max(x, y))) && ++wrong <= 3) {
            ADD_FAILURE() << threads << " threads, rows " << block.first << ".." << block.end << ": (" << x << ", "
                          << y << ") = " << value << " against " << expected(x, y);
          }
        }
      }
      EXPECT_EQ(wrong, 0) << threads << " threads, rows " << block.first << ".." << block.end;
    }
  }
}

TEST_F(fast_pairs_values, tiles_of_two_to_five_blocks_give_the_bits_of_one_run) {
  for (std::size_t blocks = 2; blocks <= 5; ++blocks) {
    std::vector<char> seen(set_files * set_files);
    for (std::size_t number = 1; number <= tile_count(blocks); ++number) {
      tile_choice choice;
      ASSERT_TRUE(tile_of(number, blocks, choice));
      const std::vector<std::size_t> positions = tile_files(set_files, choice);
      std::vector<data_file> held(positions.size());
      for (std::size_t i = 0; i < positions.size(); ++i) {
        const real_array& from = *set->pointers[positions[i]];
        held[i].values.reserve(static_cast<std::int32_t>(from.count), false);
        for (std::int64_t k = 0; k < from.count; ++k) held[i].values.append(from.buffer[k]);
      }
      const tile_job job{choice, width, true, 0, static_cast<int>(1 + number % 3), false, {}};
      const tile_values tile = compute_tile(job, set_files, held);
      for (std::size_t x = tile.rows.first; x < tile.rows.end; ++x) {
        for (std::size_t y = std::max(x + 1, tile.columns.first); y < tile.columns.end; ++y) {
          seen[x * set_files + y] = 1;
          ASSERT_EQ(bits_of(tile.at(x, y)), bits_of(expected(x, y)))
              << "tile " << number << " of " << blocks << ": (" << x << ", " << y << ")";
        }
      }
    }
    for (std::size_t x = 0; x < set_files; ++x) {
      for (std::size_t y = x + 1; y < set_files; ++y) ASSERT_TRUE(seen[x * set_files + y]) << x << " " << y;
    }
  }
}

// --- Exhausted storage inside a parallel region ---------------------------

#ifndef _WIN32
// Requests past `limit` that reach the process heap fail on every thread,
// as exhaustion does. heap_3 hands out blocks it has cached without asking
// the process heap, so the test asks for sizes of classes with an empty
// cache, and nothing freed meanwhile is cached. Both lifted at the end of
// the test whatever happens.
class exhausted_storage : public ::testing::Test {
 protected:
  void SetUp() override { heap_3::instance().flags |= heap_3::direct_release; }
  void TearDown() override {
    platform::limit_backable_memory(0);
    heap_3::instance().flags &= ~heap_3::direct_release;
  }
  static constexpr std::uint64_t limit = std::uint64_t{1} << 20;
  // Twice the limit or more, in a class whose cache is empty.
  static std::uint64_t uncached_bytes() {
    std::uint64_t bytes = 2 * limit;
    while (heap_3::instance().class_record(heap_3::class_of(bytes)).cached != 0) bytes *= 2;
    return bytes;
  }
};

TEST_F(exhausted_storage, the_domain_check_throws_bad_alloc_to_its_caller) {
  real_array w;
  make_window(w, 3);
  for (int threads : {1, 2, 3}) {
    // Each set's magnitudes, taken inside the region, pass the limit.
    const random_set big(6, static_cast<std::int32_t>(uncached_bytes() / sizeof(double)), 3);
    platform::limit_backable_memory(limit);
    EXPECT_THROW(outside_fast_domain(w, big.pointers, threads), std::bad_alloc) << threads << " threads";
    platform::limit_backable_memory(0);
    EXPECT_EQ(outside_fast_domain(w, big.pointers, threads), std::vector<char>(6, 0)) << "and works again after";
  }
}

TEST_F(exhausted_storage, the_pairs_throw_what_storage_taken_for_a_value_throws) {
  const random_set small(140, 30, 4);
  real_array w;
  make_window(w, 5);
  const window_sum_rows sums = make_window_sum_rows(w, small.pointers, 1);
  const held_sums all{&sums, 0};
  for (int threads : {1, 2, 3}) {
    progress_meter meter;
    std::uint64_t puts = 0;
    const std::uint64_t bytes = uncached_bytes();
    platform::limit_backable_memory(limit);
    // A host's put that keeps its values in storage of its own.
    auto put = [&](std::size_t, std::size_t, double) {
      std::vector<char> kept(bytes);
      ++puts;
    };
    EXPECT_THROW(grid_pairs(all, all, small.pointers.size(), threads, meter, put,
                            [](std::size_t, std::size_t) { return true; }),
                 std::bad_alloc)
        << threads << " threads";
    platform::limit_backable_memory(0);
    EXPECT_EQ(puts, 0u);
  }
}
#endif

}  // namespace
}  // namespace lagscan::matrix
