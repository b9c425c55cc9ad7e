// Growable arrays of 8-byte elements (real_array, pointer_array).
//
// Fields: buffer, capacity, count; the empty array is null, 0, 0. An array
// with capacity c > 0 owns a block from block_storage::allocate_elements(c)
// and frees it with that same c. Appending doubles the capacity from 8.
// An array holds at most max_elements elements.
//
// The other two array kinds, heap_array and object_array, come with this
// header too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "memory/array_limits.h"
#include "memory/block_storage.h"
#include "memory/heap_array.h"
#include "memory/object_array.h"

namespace lagscan {

template <class T>
class growable_array {
  static_assert(sizeof(T) == 8, "growable_array holds 8-byte elements");

 public:
  static constexpr std::int64_t max_elements = max_array_elements;

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
    // What lies between count and capacity is kept too: a caller may have
    // written there before setting count.
    replace_block(rounded, keep ? std::min<std::int64_t>(n, capacity) : 0);
  }

  // For an array of pointers to real_array headers (16-byte blocks from
  // block_storage): releases each array and its header, first to last,
  // skipping nulls, then the own storage.
  void destroy_owned() noexcept
    requires std::is_pointer_v<T>;

  // Frees the block and leaves the array empty (null, 0, 0), so that a
  // second release, by the destructor after an explicit one, frees nothing.
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

inline constexpr std::uint64_t real_array_header_bytes = 16;
static_assert(sizeof(real_array) == real_array_header_bytes, "a real_array header fills one 16-byte pool block");

template <class T>
void growable_array<T>::destroy_owned() noexcept
  requires std::is_pointer_v<T>
{
  for (std::int32_t i = 0; i < count; ++i) {
    auto* owned = static_cast<real_array*>(static_cast<void*>(buffer[i]));
    if (owned == nullptr) continue;
    owned->~real_array();
    block_storage::free_bytes(owned, real_array_header_bytes);
  }
  release_storage();
}

}  // namespace lagscan
