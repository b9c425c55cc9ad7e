// Path operations on texts. Separators are written as backslashes; a slash
// or (after a drive letter) a colon is recognised as well.
#pragma once

#include <cstdint>

#include "memory/text_buffer.h"

namespace lagscan {

// Removes a leading double quote, and a trailing one with it.
void strip_quotes(text_buffer& t);
// Every "/" becomes "\", in place.
void unify_separators(text_buffer& t);
// The current directory, ending in a separator; raises " getcwd error".
void current_directory(text_buffer& destination);
// Appends "\" unless t already ends in "\" or "/".
void ensure_separator(text_buffer& t);
// One past the last "/", ":" or "\"; 0 when there is none, INT32_MIN for "".
std::int32_t last_separator(const text_buffer& t);
// The directory part of source, up to and including its last separator.
void directory_part(const text_buffer& source, text_buffer& destination);

}  // namespace lagscan
