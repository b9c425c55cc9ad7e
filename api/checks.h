// What every entry point of the public library does first: the command's
// argument checks, raised as the host's exceptions, and the host's values
// seen as our arrays without a copy.
#pragma once

#include <cstdint>
#include <span>

#include "memory/arrays.h"

namespace lagscan::api {

// std::invalid_argument with the command's words when s cannot be a window
// width (even, negative, too large).
void check_width(int s);
// std::invalid_argument with the command's words when the counts differ.
void check_same_count(std::size_t first, std::size_t second);

// The team a call runs: 0 means all processors, a count above them is taken
// as their number; std::invalid_argument below 0 or above max_threads.
int team_size(int threads);

// A real_array over the host's values: capacity 0, so it frees nothing and
// must not grow. std::length_error "Array too large" beyond our arrays' limit.
class borrowed_values {
 public:
  explicit borrowed_values(std::span<const double> values);
  borrowed_values(const borrowed_values&) = delete;
  borrowed_values& operator=(const borrowed_values&) = delete;
  const real_array& get() const { return array_; }

 private:
  real_array array_;
};

// The triangular window of width s (already checked).
void make_window(real_array& window, int s);

}  // namespace lagscan::api
