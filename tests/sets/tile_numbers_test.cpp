// The numbering of tiles on its own: T and (R, C) answer each other for
// every tile of small K, and "T/K" is read for any K a run may have, the
// last tiles of K in the billions included, and refused beyond it.
#include "sets/tiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lagscan::matrix {
namespace {

TEST(tile_of, answers_tile_number_for_every_tile_of_small_k) {
  for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
    std::size_t expected = 0;
    for (std::size_t r = 1; r <= blocks; ++r) {
      for (std::size_t c = r; c <= blocks; ++c) {
        ++expected;
        ASSERT_EQ(tile_number(r, c, blocks), expected) << r << "," << c << " of " << blocks;
        tile_choice tile;
        ASSERT_TRUE(tile_of(expected, blocks, tile));
        EXPECT_EQ(tile.row_block, r);
        EXPECT_EQ(tile.column_block, c);
      }
    }
    EXPECT_EQ(tile_count(blocks), expected);
    tile_choice tile;
    EXPECT_FALSE(tile_of(expected + 1, blocks, tile)) << blocks;
    EXPECT_FALSE(tile_of(0, blocks, tile)) << blocks;
  }
}

struct parse_case {
  std::string text;
  bool valid;
  std::uint64_t row_block, column_block;  // when valid
};

TEST(parse_tile, reads_every_tile_of_any_k_up_to_the_bound) {
  const std::uint64_t k = max_blocks;
  const std::string last = std::to_string(tile_count(k)) + "/" + std::to_string(k);
  const std::string after_first_row = std::to_string(k + 1) + "/" + std::to_string(k);
  const std::string beyond = std::to_string(k + 1);
  const std::vector<parse_case> cases = {
      {"1/1", true, 1, 1},
      {"3/2", true, 2, 2},
      // K >= 1414 has tiles numbered beyond 999999.
      {"1000405/1414", true, 1414, 1414},
      {"1000404/1414", true, 1413, 1414},
      {last, true, k, k},
      {after_first_row, true, 2, 2},
      {"1000406/1414", false, 0, 0},
      {"1/" + beyond, false, 0, 0},
      {"18446744073709551616/3", false, 0, 0},  // 2^64
      {"0/3", false, 0, 0},
      {"1/0", false, 0, 0},
      {"+1/3", false, 0, 0},
      {"1/3x", false, 0, 0},
      {"1/", false, 0, 0},
      {"/3", false, 0, 0},
      {"13", false, 0, 0},
  };
  for (const parse_case& c : cases) {
    tile_choice tile;
    ASSERT_EQ(parse_tile(c.text, tile), c.valid) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(tile.row_block, c.row_block) << c.text;
    EXPECT_EQ(tile.column_block, c.column_block) << c.text;
  }
}

}  // namespace
}  // namespace lagscan::matrix
