#include "streams/except_3.h"

#include <cstring>
#include <new>

#include "memory/arrays.h"
#include "memory/block_storage.h"

namespace lagscan {

namespace {
constexpr std::uint64_t initial_text_bytes = 128;
constexpr std::uint64_t error_object_bytes = sizeof(except_3);
}  // namespace

string_out::string_out() : text(text_buffer::raw) {
  text.reserve(initial_text_bytes, false);
  text.length = 1;
  text.buffer[0] = '\0';
}

std::int64_t string_out::text_length() const { return std::int64_t{text.length} - 1; }

string_out& string_out::append_range(const char* begin, const char* end) {
  text.append_grown({begin, end});
  return *this;
}

except_3*& create_error(except_3*& holder) {
  void* block = block_storage::allocate_bytes(error_object_bytes);
  std::memset(block, 0, error_object_bytes);
  try {
    holder = new (block) except_3();
  } catch (...) {
    block_storage::free_bytes(block, error_object_bytes);
    throw;
  }
  return holder;
}

namespace {
except_3*& append_blank_then(except_3*& holder, char_range word) {
  text_buffer& text = holder->text;
  text.buffer[text.length - 1] = ' ';
  text.push_byte_grown('\0');
  holder->append_range(word.begin, word.end);
  return holder;
}
}  // namespace

except_3*& append_word(except_3*& holder, const char* word) {
  return append_blank_then(holder, char_range::of(word));
}

except_3*& append_word(except_3*& holder, const text_buffer& word) {
  return append_blank_then(holder, word.range());
}

void release_error(except_3* error) noexcept {
  error->except_3::~except_3();  // the exact type: nothing derives from except_3
  block_storage::free_bytes(error, error_object_bytes);
}

void raise(except_3*& holder) {
  except_3* error = holder;
  throw error;
}

void raise_error(const char* word) {
  except_3* error = nullptr;
  append_word(create_error(error), word);
  raise(error);
}

void raise_error(const char* word, const text_buffer& detail) {
  except_3* error = nullptr;
  append_word(append_word(create_error(error), word), detail);
  raise(error);
}

}  // namespace lagscan
