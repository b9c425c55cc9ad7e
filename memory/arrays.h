// Growable arrays of 8-byte elements (real_array, pointer_array).
//
// Fields: buffer, capacity, count; the empty array is null, 0, 0. An array
// with capacity c > 0 owns a block from block_storage::allocate_elements(c)
// and frees it with that same c. Appending doubles the capacity from 8.
// An array holds at most max_elements elements.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "memory/block_storage.h"

namespace lagscan {

[[noreturn]] void raise_array_too_large();

template <class T>
class growable_array {
  static_assert(sizeof(T) == 8, "growable_array holds 8-byte elements");

 public:
  static constexpr std::int64_t max_elements = std::int64_t{1} << 30;

  growable_array() noexcept = default;
  growable_array(const growable_array&) = delete;
  growable_array& operator=(const growable_array&) = delete;
  ~growable_array() { release_storage(); }

  void append(T value) {
    if (count >= capacity) grow();
    buffer[count] = value;
    ++count;
  }

  // Sets the capacity to round_elements(n); never raises count, and lowers it
  // only when the block shrinks below it. n <= 0 empties the array.
  void reserve(std::int64_t n, bool keep) {
    if (n <= 0) {
      release_storage();
      return;
    }
    if (n > max_elements) raise_array_too_large();
    auto rounded = block_storage::round_elements(static_cast<std::uint64_t>(n));
    if (capacity == 0) {
      buffer = static_cast<T*>(block_storage::allocate_elements(rounded));
      capacity = static_cast<std::int32_t>(rounded);
      count = std::min(count, capacity);
      return;
    }
    if (n == capacity) return;
    replace_block(rounded, keep ? std::min<std::int64_t>(n, count) : 0);
  }

  // Frees the block and leaves the array empty.
  void release_storage() noexcept {
    if (capacity != 0) block_storage::free_elements(buffer, static_cast<std::uint64_t>(capacity));
    buffer = nullptr;
    capacity = 0;
    count = 0;
  }

  T& operator[](std::int32_t i) { return buffer[i]; }
  const T& operator[](std::int32_t i) const { return buffer[i]; }
  T* begin() { return buffer; }
  T* end() { return buffer + count; }
  const T* begin() const { return buffer; }
  const T* end() const { return buffer + count; }

  T* buffer = nullptr;
  std::int32_t capacity = 0;
  std::int32_t count = 0;

 private:
  // Growth is the rare path: keep it out of append's few instructions.
  [[gnu::noinline]] void grow() {
    std::int64_t wanted = count == 0 ? 8 : 2 * std::int64_t{count};
    if (wanted > max_elements) raise_array_too_large();
    if (capacity == 0) {
      buffer = static_cast<T*>(block_storage::allocate_elements(static_cast<std::uint64_t>(wanted)));
      capacity = static_cast<std::int32_t>(wanted);
      return;
    }
    replace_block(static_cast<std::uint64_t>(wanted), count);
  }

  void replace_block(std::uint64_t new_capacity, std::int64_t kept) {
    T* block = static_cast<T*>(block_storage::allocate_elements(new_capacity));
    if (kept > 0) std::memcpy(block, buffer, static_cast<std::size_t>(kept) * sizeof(T));
    block_storage::free_elements(buffer, static_cast<std::uint64_t>(capacity));
    buffer = block;
    capacity = static_cast<std::int32_t>(new_capacity);
    count = std::min(count, capacity);
  }
};

using real_array = growable_array<double>;
using pointer_array = growable_array<void*>;

}  // namespace lagscan
