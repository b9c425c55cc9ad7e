// The record of exit work, apart from start-up: objects made on first use
// note their release too, also in the public library, which has no start-up.
#include "runtime/startup.h"

namespace lagscan {
namespace {

constinit exit_record exit_done{};

}  // namespace

const exit_record& exit_work_done() noexcept { return exit_done; }

void note_released(const char* name) noexcept {
  if (exit_done.count < exit_record::most) exit_done.released[exit_done.count++] = name;
}

}  // namespace lagscan
