#include "memory/text_buffer.h"

#include <algorithm>

#include "memory/block_storage.h"
#include "memory/size_limit_error.h"

namespace lagscan {
namespace {
char shared_zero = 0;  // the empty text of every empty buffer; never written
}

char* text_buffer::empty_text() noexcept { return &shared_zero; }

void text_buffer::make_empty() noexcept {
  if (capacity != 0) {
    buffer[0] = '\0';
  } else {
    buffer = empty_text();
  }
  length = 1;
}

// Where text starts inside this buffer's own block, or -1 when it lies
// elsewhere. A text assigned or appended to itself must be read from the new
// block once growing has freed the old one.
std::int64_t text_buffer::offset_in_block(char_range text) const noexcept {
  auto begin = reinterpret_cast<std::uintptr_t>(text.begin);
  auto block = reinterpret_cast<std::uintptr_t>(buffer);
  if (capacity == 0 || begin < block || begin >= block + static_cast<std::uintptr_t>(capacity)) return -1;
  return static_cast<std::int64_t>(begin - block);
}

text_buffer::~text_buffer() {
  if (capacity != 0) block_storage::free_bytes(buffer, static_cast<std::uint64_t>(capacity));
}

void text_buffer::assign(char_range text) {
  std::int64_t n = text.end - text.begin;
  if (n <= 0) {
    make_empty();
    return;
  }
  if (n + 1 > capacity) {
    // The text may be this buffer's own, which growing frees: keep the old
    // bytes and read them from the new block.
    std::int64_t own = offset_in_block(text);
    reserve(n + 1, own >= 0);
    if (own >= 0) text.begin = buffer + own;
  }
  length = static_cast<std::int32_t>(n + 1);
  std::memmove(buffer, text.begin, static_cast<std::size_t>(n));
  buffer[n] = '\0';
}

void text_buffer::append(char_range text) {
  std::int64_t n = text.end - text.begin;
  if (n <= 0) return;
  std::int64_t used = size();
  std::int64_t grown = used + 1 + n;
  if (grown > capacity) {
    std::int64_t own = offset_in_block(text);
    reserve(grown, true);
    if (own >= 0) text.begin = buffer + own;
  }
  std::memcpy(buffer + used, text.begin, static_cast<std::size_t>(n));
  length = static_cast<std::int32_t>(grown);
  buffer[grown - 1] = '\0';
}

void text_buffer::append_grown(char_range text) {
  if (reinterpret_cast<std::uintptr_t>(text.end) <= reinterpret_cast<std::uintptr_t>(text.begin)) return;
  std::int64_t n = text.end - text.begin;
  std::int64_t used = size();
  std::int64_t grown = used + 1 + n;
  if (capacity < grown) {
    if (grown > max_bytes) raise_text_too_large();
    std::int64_t own = offset_in_block(text);
    // Doubling is cut at the limit rather than refused below it.
    reserve(std::min(2 * grown, max_bytes), true);
    if (own >= 0) text.begin = buffer + own;
  }
  length = static_cast<std::int32_t>(grown);
  buffer[grown - 1] = '\0';
  std::memcpy(buffer + used, text.begin, static_cast<std::size_t>(n));
}

void text_buffer::push_byte_grown(char c) {
  if (capacity == 0) {
    // Empty or raw: move what there is (at most the terminator) to a block.
    char first = length > 0 ? buffer[0] : '\0';
    reserve(std::max<std::int64_t>(2 * std::int64_t{length}, 8), false);
    buffer[0] = first;
  } else if (capacity == length) {
    if (length >= max_bytes) raise_text_too_large();
    reserve(std::min(2 * std::int64_t{length}, max_bytes), true);
  }
  buffer[length] = c;
  ++length;
}

void text_buffer::reserve(std::int64_t size, bool keep) {
  if (size <= 0) {
    release();
    return;
  }
  if (size > max_bytes) raise_text_too_large();
  if (capacity == 0) {
    std::uint64_t c = block_storage::round_bytes(static_cast<std::uint64_t>(size));
    buffer = static_cast<char*>(block_storage::allocate_bytes(c));
    capacity = static_cast<std::int32_t>(c);
    return;
  }
  if (size == capacity) return;
  std::uint64_t c = block_storage::round_bytes(static_cast<std::uint64_t>(size));
  char* block = static_cast<char*>(block_storage::allocate_bytes(c));
  if (keep) std::memcpy(block, buffer, static_cast<std::size_t>(std::min<std::int64_t>(size, capacity)));
  block_storage::free_bytes(buffer, static_cast<std::uint64_t>(capacity));
  buffer = block;
  capacity = static_cast<std::int32_t>(c);
  // A shrunk block must not leave length pointing past its end.
  if (length > capacity) {
    length = capacity;
    buffer[length - 1] = '\0';
  }
}

void text_buffer::release() noexcept {
  if (capacity != 0) block_storage::free_bytes(buffer, static_cast<std::uint64_t>(capacity));
  capacity = 0;
  length = 0;
}

void text_buffer::copy_from(const text_buffer& other) {
  if (&other == this) return;
  std::int32_t n = other.length;
  if (n <= 0) {
    release();
    return;
  }
  if (n == length && capacity != 0) {
    std::memcpy(buffer, other.buffer, static_cast<std::size_t>(n));
    return;
  }
  if (n == 1 && length == 1 && capacity == 0 && other.buffer[0] == '\0') return;  // both empty
  // A fresh block even when the old one would do: callers may hold on to
  // the capacity that round_bytes gives for exactly n.
  std::uint64_t c = block_storage::round_bytes(static_cast<std::uint64_t>(n));
  char* block = static_cast<char*>(block_storage::allocate_bytes(c));
  std::memcpy(block, other.buffer, static_cast<std::size_t>(n));
  if (capacity != 0) block_storage::free_bytes(buffer, static_cast<std::uint64_t>(capacity));
  buffer = block;
  capacity = static_cast<std::int32_t>(c);
  length = n;
}

}  // namespace lagscan
