// The Gram kernel: every path the CPU runs, forced one by one, gives the
// bits of a plain loop in the documented order, for blocks whose rows,
// columns and length leave remainders in every dimension of the register
// tile and of the blocks of k.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/lag_kernels.h"
#include "matrix/gram.h"

namespace lagscan::matrix {
namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Values of all sizes and both signs, zeros of both signs and subnormals:
// data on which another order of additions (or a fused multiply-add) shows
// in the last bits.
std::vector<double> random_rows(std::size_t rows, std::size_t length, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  std::uniform_int_distribution<int> rare(0, 99);
  std::vector<double> v(rows * length);
  for (double& x : v) {
    const int r = rare(rng);
    x = r == 0 ? 0.0 : r == 1 ? -0.0 : r == 2 ? std::numeric_limits<double>::denorm_min() * 3 : unit(rng) * std::ldexp(1.0, exponent(rng));
  }
  return v;
}

// The documented order, written out: one running sum per entry from +0.0,
// a product rounded, then added.
double plain_sum(const double* a, const double* b, std::size_t length) {
  volatile double sum = 0.0;  // volatile: no other order, no contraction
  for (std::size_t k = 0; k < length; ++k) {
    volatile double product = a[k] * b[k];
    sum = sum + product;
  }
  return sum;
}

struct shape {
  std::size_t a_rows, b_rows, length;
  std::ptrdiff_t min_offset;
};

std::string name_of(const shape& s) {
  return std::to_string(s.a_rows) + "x" + std::to_string(s.b_rows) + "x" + std::to_string(s.length) + " from " +
         std::to_string(s.min_offset);
}

constexpr std::ptrdiff_t every_entry = std::numeric_limits<std::ptrdiff_t>::min() / 2;

// Rows and columns below, at and past the tiles' 4, 8, 12 and 16 and past
// several tiles; lengths of one k block, exactly one, and past one and two.
const shape shapes[] = {
    {1, 1, 1, every_entry},      {1, 1, 0, every_entry},     {3, 5, 7, every_entry},
    {16, 12, 256, every_entry},  {17, 13, 257, every_entry}, {15, 11, 255, every_entry},
    {33, 29, 513, every_entry},  {71, 50, 300, every_entry}, {8, 4, 1000, every_entry},
    {40, 40, 129, 1},            {57, 57, 300, 1},           {29, 70, 77, -20},
    {70, 29, 77, 9},             {2, 300, 40, every_entry},  {300, 2, 40, every_entry},
};

class gram_paths : public ::testing::TestWithParam<lag_path> {};

TEST_P(gram_paths, every_entry_read_has_the_bits_of_the_plain_loop) {
  const lag_path path = GetParam();
  if (!lag_path_available(path)) GTEST_SKIP() << lag_path_name(path) << " does not run on this CPU";
  std::uint64_t seed = 1;
  for (const shape& s : shapes) {
    const std::vector<double> a = random_rows(s.a_rows, s.length, seed++);
    const std::vector<double> b = random_rows(s.b_rows, s.length, seed++);
    const std::size_t ldc = s.b_rows + 3;  // a stride other than the width
    std::vector<double> c(s.a_rows * ldc, std::nan(""));
    std::vector<double> scratch(gram_scratch_size(s.a_rows, s.b_rows));
    gram_on(path, {a.data(), s.a_rows, b.data(), s.b_rows, s.length, s.min_offset}, c.data(), ldc, scratch.data());
    int wrong = 0;
    for (std::size_t i = 0; i < s.a_rows; ++i) {
      for (std::size_t j = 0; j < s.b_rows; ++j) {
        if (static_cast<std::ptrdiff_t>(j) - static_cast<std::ptrdiff_t>(i) < s.min_offset) continue;
        const double want = plain_sum(a.data() + i * s.length, b.data() + j * s.length, s.length);
        const double got = c[i * ldc + j];
        if (bits_of(got) != bits_of(want) && ++wrong <= 5) {
          ADD_FAILURE() << lag_path_name(path) << " " << name_of(s) << " entry (" << i << ", " << j << "): " << got
                        << " against " << want;
        }
      }
    }
    EXPECT_EQ(wrong, 0) << name_of(s);
  }
}

// The same data, summed four ways at once (as a vector across k would):
// the test above would see such a kernel, since the bits differ.
TEST(gram_data, another_order_gives_other_bits_on_the_test_data) {
  const std::size_t length = 513;
  const std::vector<double> a = random_rows(1, length, 41), b = random_rows(1, length, 42);
  double lanes[4] = {0, 0, 0, 0};
  for (std::size_t k = 0; k + 4 <= length; k += 4) {
    for (std::size_t r = 0; r < 4; ++r) lanes[r] += a[k + r] * b[k + r];
  }
  double four_ways = (lanes[0] + lanes[2]) + (lanes[1] + lanes[3]) + a[length - 1] * b[length - 1];
  EXPECT_NE(bits_of(four_ways), bits_of(plain_sum(a.data(), b.data(), length)));
}

INSTANTIATE_TEST_SUITE_P(forced, gram_paths, ::testing::ValuesIn(all_lag_paths),
                         [](const auto& row) { return std::string(lag_path_name(row.param)); });

}  // namespace
}  // namespace lagscan::matrix
