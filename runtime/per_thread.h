// Per-thread scratch: each thread works in the element at its own OpenMP
// thread number, so formatting, single-character writes, separators and
// tokens need no lock. The arrays are made at start-up and never resized.
#pragma once

#include <cstdint>

#include "memory/text_buffer.h"
#include "streams/except_3.h"

namespace lagscan {

// The calling thread's buffer for formatted numbers.
text_buffer& format_buffer();
// The calling thread's token text for the cursor's next_token.
string_out& token_buffer();
// A one-character text holding c in the calling thread's cell, valid until
// the same thread asks again; c = NUL gives the empty text.
const char* char_cell(char c);
// The calling thread's two-byte separator cell (second byte NUL).
char* separator_cell();

}  // namespace lagscan
