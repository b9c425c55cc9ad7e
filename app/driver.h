// The lagscan command: lagscan file1.xy file2.xy s.
#pragma once

#include <cstdint>

namespace lagscan {

class out_stream;

// The third argument as the C library's decimal string-to-integer conversion
// reads it, clamped to the 32-bit range instead of wrapping.
std::int32_t parse_window_width(const char* text);

// The message (with its line end) for a window width s that the window
// cannot be built for, checked in this order: even (0 and text that is no
// number included), negative, too large. Null when s is usable.
const char* window_width_message(std::int32_t s);

// The two fixed messages of the command.
out_stream& write_even_s_message(out_stream& out);
out_stream& write_count_mismatch_message(out_stream& out);

// How the command stops at once (the argument errors, differing counts and a
// reported error); it must not return. The program's own ends the process,
// so that at-exit work runs and standard output is flushed. A harness that
// runs the command many times in one process passes one that throws
// command_ended, which the command lets through.
using end_function = void (*)(int status);
struct command_ended {
  int status;
};
[[noreturn]] void end_process(int status);

// Runs the command and answers its exit status, which is 1 in every case.
int run_command(int argc, char** argv, end_function end = end_process);

}  // namespace lagscan
