// The sixteen-byte tests, walked over every byte value at every offset.
#include <gtest/gtest.h>

#include <cstdint>

#include "streams/byte_scan.h"

namespace lagscan {
namespace {

using namespace byte_scan;

// A block of filler bytes with value v at offset at.
__m128i block_with(unsigned v, int at, char filler) {
  char bytes[block_bytes];
  for (char& b : bytes) b = filler;
  bytes[at] = static_cast<char>(v);
  return load_bytes(bytes);
}

TEST(byte_scan, equal_selects_exactly_the_matching_byte) {
  for (unsigned v = 0; v < 256; ++v) {
    for (int at = 0; at < block_bytes; ++at) {
      unsigned expected = v == 0x2F ? 1u << at : 0u;
      ASSERT_EQ(bits(equal(block_with(v, at, 'a'), '/')), expected) << "byte " << v << " at " << at;
    }
  }
}

TEST(byte_scan, below_compares_as_unsigned_at_every_bound) {
  for (unsigned bound : {1u, 0x21u, 0x80u, 0x81u, 0xFFu}) {
    for (unsigned v = 0; v < 256; ++v) {
      for (int at = 0; at < block_bytes; ++at) {
        unsigned expected = v < bound ? 1u << at : 0u;
        ASSERT_EQ(bits(below(block_with(v, at, '\xFF'), static_cast<std::uint8_t>(bound))), expected)
            << "byte " << v << " at " << at << " bound " << bound;
      }
    }
  }
}

TEST(byte_scan, replace_changes_only_the_selected_bytes) {
  for (unsigned v = 0; v < 256; ++v) {
    for (int at = 0; at < block_bytes; ++at) {
      char out[block_bytes];
      __m128i bytes = block_with(v, at, 'q');
      store_bytes(out, replace(bytes, equal(bytes, 'q'), ' '));
      for (int k = 0; k < block_bytes; ++k) {
        char expected = k == at ? (v == 'q' ? ' ' : static_cast<char>(v)) : ' ';
        ASSERT_EQ(out[k], expected) << "byte " << v << " at " << at << ", offset " << k;
      }
    }
  }
}

}  // namespace
}  // namespace lagscan
