// The element limit shared by every array kind: counts and capacities are
// signed 32-bit, and doubling past 2^30 would wrap them. Passing it raises
// size_limit_error "Array too large".
#pragma once

#include <cstdint>

#include "memory/size_limit_error.h"

namespace lagscan {

inline constexpr std::int64_t max_array_elements = std::int64_t{1} << 30;

}  // namespace lagscan
