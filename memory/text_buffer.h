// text_buffer: a growable NUL-terminated byte text, and char_range, the
// (begin, end) pair through which texts are passed.
//
// States:
//   empty  buffer -> one shared static zero byte, capacity 0, length 1
//   raw    capacity 0, length 0, buffer meaningless (after release())
//   owned  capacity > 0, buffer from block_storage::allocate_bytes(capacity)
// length counts the terminator; for an owned buffer length <= capacity.
// A text holds at most max_bytes bytes including its terminator; a request
// past it raises size_limit_error "Text too large".
#pragma once

#include <cstdint>
#include <cstring>

namespace lagscan {

struct char_range {
  const char* begin;
  const char* end;

  static char_range of(const char* text) { return {text, text + std::strlen(text)}; }
  std::int32_t length() const { return static_cast<std::int32_t>(end - begin); }
};

class text_buffer {
 public:
  static constexpr std::int64_t max_bytes = std::int64_t{1} << 30;

  struct raw_t {};
  static constexpr raw_t raw{};

  text_buffer() noexcept : buffer(empty_text()), capacity(0), length(1) {}
  explicit text_buffer(raw_t) noexcept : buffer(nullptr), capacity(0), length(0) {}
  explicit text_buffer(char_range text) : text_buffer() { assign(text); }
  text_buffer(const text_buffer&) = delete;
  text_buffer& operator=(const text_buffer&) = delete;
  ~text_buffer();

  void assign(char_range text);
  void append(char_range text);
  // Appends with doubling growth (twice the needed length, 8 for 0).
  void append_grown(char_range text);
  // Stores c at index length and counts it, growing as append_grown does;
  // the caller keeps the text terminated.
  void push_byte_grown(char c);
  // Sets the capacity; never changes length. size <= 0 releases.
  void reserve(std::int64_t size, bool keep);
  // Back to the raw state.
  void release() noexcept;
  void copy_from(const text_buffer& other);

  const char* c_str() const { return buffer; }
  std::int32_t size() const { return length > 0 ? length - 1 : 0; }
  char_range range() const { return {buffer, buffer + size()}; }

  char* buffer;
  std::int32_t capacity;
  std::int32_t length;

 private:
  static char* empty_text() noexcept;
  void make_empty() noexcept;
  std::int64_t offset_in_block(char_range text) const noexcept;
};

}  // namespace lagscan
