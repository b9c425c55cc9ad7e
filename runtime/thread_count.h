// The process-wide thread count: settled once, from the optional file
// "maxnumthreads.txt" in the current directory and the OpenMP runtime's
// maximum, and handed to every later caller unchanged.
//
// File format: optional leading white space, then up to nine decimal digits;
// whatever follows is ignored. Comments are removed first, as in data files
// (' to the end of the line, nestable /* */ blocks). 0, no digits or no file
// ask for every thread the OpenMP runtime offers; a larger count is lowered
// to that maximum.
#pragma once

#include <cstdint>

#include "memory/text_buffer.h"

namespace lagscan {

// The thread count, at least 1. The first call reads the file, sets the
// OpenMP runtime's dynamic adjustment on and its thread count for later
// parallel regions to 1; later calls only return the settled count.
// A missing, unreadable or malformed file never raises: the count is then
// the runtime's maximum.
std::int32_t max_num_threads();

// 1 when a file at path can be opened for update, else 0. Raises nothing
// and prints nothing.
int file_exists(char_range path) noexcept;

// The count for a configured value and the OpenMP maximum m (m >= 1):
// 0 gives m, a positive value at most m, a negative n all but |n| threads
// and at least one.
constexpr std::int32_t resolve_thread_count(std::int32_t configured, std::int32_t m) {
  if (configured == 0) return m;
  if (configured > 0) return configured < m ? configured : m;
  std::int64_t rest = std::int64_t{m} + configured;
  return rest > 1 ? static_cast<std::int32_t>(rest) : 1;
}

}  // namespace lagscan
