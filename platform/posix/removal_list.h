// Inside platform/posix/ only: the files recorded by remove_on_signal
// (platform/files.h), for the other handlers that end the process.
#pragma once

namespace lagscan::platform {

// Removes every file recorded by remove_on_signal now. Safe to call in a
// signal handler, on any thread.
void remove_recorded_files() noexcept;

}  // namespace lagscan::platform
