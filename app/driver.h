// The lagscan command: lagscan file1.xy file2.xy s.
#pragma once

#include <cstdint>

namespace lagscan {

class out_stream;

// The third argument as the C library's decimal string-to-integer conversion
// reads it, clamped to the 32-bit range instead of wrapping.
std::int32_t parse_count(const char* text);

// The two fixed messages of the command.
out_stream& write_even_s_message(out_stream& out);
out_stream& write_count_mismatch_message(out_stream& out);

// Runs the command and answers its exit status, which is 1 in every case;
// the argument errors end the process at once.
int run_command(int argc, char** argv);

}  // namespace lagscan
