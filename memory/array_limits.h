// The element limit shared by every array kind: counts and capacities are
// signed 32-bit, and doubling past 2^30 would wrap them.
#pragma once

#include <cstdint>

namespace lagscan {

inline constexpr std::int64_t max_array_elements = std::int64_t{1} << 30;

// Raises the except_3 "Array too large".
[[noreturn]] void raise_array_too_large();

}  // namespace lagscan
