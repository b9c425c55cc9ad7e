// What start-up did: the steps that failed, and the exit work done so far.
// The steps themselves are in startup.cpp, the one place that orders them.
#pragma once

#include <cstdint>

namespace lagscan {

// Bit s - 1 is set when step Ss could not make its object; the object then
// stays empty and its exit work is not registered.
std::uint32_t failed_startup_steps() noexcept;

// The objects released by exit work, in the order the work ran.
struct exit_record {
  static constexpr int most = 16;
  const char* released[most];
  int count;
};
const exit_record& exit_work_done() noexcept;
// Called by each piece of exit work once its object is released; name must
// be a literal.
void note_released(const char* name) noexcept;

}  // namespace lagscan
