// string_out, a small text holder, and except_3, the error object that the
// library raises by pointer.
//
// An error message is built word by word, each word after one blank, so
// every message begins with a blank:
//
//   except_3* error = nullptr;
//   append_word(append_word(create_error(error), "Cannot open file"), path);
//   raise(error);
//
// Whoever catches the pointer owns the object and ends with release_error.
// A handler for except_3*, string_out* or void* catches it.
#pragma once

#include <cstdint>

#include "memory/text_buffer.h"

namespace lagscan {

class string_out {
 public:
  // An empty text in a 128-byte block.
  string_out();
  string_out(const string_out&) = delete;
  string_out& operator=(const string_out&) = delete;
  // Not virtual: nothing is ever destroyed through the base.
  ~string_out() = default;

  virtual std::int64_t text_length() const;

  // Appends the bytes of [begin, end) before the terminator; nothing when
  // end is not above begin.
  string_out& append_range(const char* begin, const char* end);

  text_buffer text;
};

class except_3 : public string_out {};

static_assert(sizeof(except_3) == 24, "an error object fills one 24-byte pool block");

// Stores a new, empty error object in holder (which the caller set to null).
except_3*& create_error(except_3*& holder);
// Appends a blank and then word to the held object's text.
except_3*& append_word(except_3*& holder, const char* word);
except_3*& append_word(except_3*& holder, const text_buffer& word);
// Destroys the text and returns the object's block.
void release_error(except_3* error) noexcept;

[[noreturn]] void raise(except_3*& holder);
// Shorthands for the common messages of one or two words.
[[noreturn]] void raise_error(const char* word);
[[noreturn]] void raise_error(const char* word, const text_buffer& detail);

}  // namespace lagscan
