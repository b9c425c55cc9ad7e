// The arithmetic of lagscan-matrix's tables, on its own: where a row starts
// in a block of rows, and the order of best matches.
#include "outputs/table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace lagscan::matrix {
namespace {

struct offset_case {
  const char* name;
  std::size_t row, first, n;
  std::uint64_t expected;
};

void PrintTo(const offset_case& c, std::ostream* os) { *os << c.name; }

class row_offsets : public ::testing::TestWithParam<offset_case> {};

// Through a 32-bit type (long under mingw-w64) the offsets past 2^31 would
// wrap, and a table of 46,341 files or more would be read out of place.
TEST_P(row_offsets, hold_every_place_of_a_large_table) {
  const offset_case& c = GetParam();
  EXPECT_EQ(static_cast<std::uint64_t>(row_offset(c.row, c.first, c.n)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, row_offsets,
    ::testing::Values(offset_case{"first_row", 0, 0, 3, 0}, offset_case{"a_small_table", 2, 0, 3, 6},
                      offset_case{"a_block_of_rows", 7, 5, 10, 20},
                      offset_case{"last_row_below_two_to_the_31", 46339, 0, 46340, 2147349260u},
                      offset_case{"first_row_past_two_to_the_31", 46341, 0, 46341, 2147488281u},
                      offset_case{"past_two_to_the_32", 65537, 0, 65537, 4295098369u},
                      offset_case{"a_block_of_100000_rows_of_100000_files", 149999, 100000, 100000, 4999900000u},
                      offset_case{"a_block_far_into_the_table", 250000, 50000, 300000, 60000000000u}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(best_first, larger_values_first_nan_last_ties_in_index_order) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {0.5, nan, 0.9, 0.5, -1.0};
  EXPECT_EQ(best_first(values, skip_none), (std::vector<std::size_t>{2, 0, 3, 4, 1}));
  EXPECT_EQ(best_first(values, 2), (std::vector<std::size_t>{0, 3, 4, 1}));
  EXPECT_EQ(best_first(values, 1), (std::vector<std::size_t>{2, 0, 3, 4}));
}

}  // namespace
}  // namespace lagscan::matrix
