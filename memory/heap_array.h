// heap_array: an array whose block comes straight from heap_3, exactly
// capacity * sizeof(T) bytes: no pools, no rounding. The small-block pools
// keep their chunk lists in these (growing them must not re-enter the pools)
// and the per-thread character cells are these.
//
// Fields: buffer, capacity, count; empty is null, 0, 0, so a process-wide
// heap_array is constant-initialised. An array with capacity > 0 owns its
// block. 8-byte elements use reserve, insert_at, insert_sorted and
// remove_at; 2-byte elements use resize.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "memory/array_limits.h"
#include "memory/heap_3.h"

namespace lagscan {

template <class T>
class heap_array {
 public:
  constexpr heap_array() noexcept = default;
  heap_array(const heap_array&) = delete;
  heap_array& operator=(const heap_array&) = delete;
  ~heap_array() {
    if (capacity != 0) heap_3::instance().free(buffer);
  }

  // Sets the capacity to exactly n; never raises count, and lowers it only
  // when the block shrinks below it. n <= 0 frees the block and empties the
  // array.
  void reserve(std::int32_t n, bool keep) {
    static_assert(sizeof(T) == 8, "reserve is for 8-byte elements");
    if (n <= 0) {
      free_block();
      count = 0;
      return;
    }
    if (n == capacity) return;
    T* block = static_cast<T*>(heap_3::instance().allocate(std::uint64_t{8} * static_cast<std::uint32_t>(n)));
    if (capacity != 0) {
      if (keep) std::memcpy(block, buffer, sizeof(T) * static_cast<std::size_t>(std::min(n, capacity)));
      heap_3::instance().free(buffer);
    }
    buffer = block;
    capacity = n;
    count = std::min(count, capacity);
  }

  // Stores value at index i, moving the elements from i up by one; an i past
  // the end appends.
  void insert_at(T value, std::int32_t i) {
    static_assert(sizeof(T) == 8, "insert_at is for 8-byte elements");
    if (count == capacity) grow();
    std::int32_t old_count = count;
    ++count;
    if (i >= old_count) {
      buffer[old_count] = value;
      return;
    }
    std::memmove(buffer + i + 1, buffer + i, sizeof(T) * static_cast<std::size_t>(old_count - i));
    buffer[i] = value;
  }

  // Inserts value into a list kept in ascending order of key_of(element)
  // (an unsigned 64-bit key), before the first element whose key is not
  // smaller; answers the index it now stands at. The ends are tried first
  // because lists mostly grow at one of them.
  template <class KeyOf>
  std::int32_t insert_sorted(T value, KeyOf key_of) {
    std::uint64_t key = key_of(value);
    if (count == 0) {
      insert_at(value, 0);
      return 0;
    }
    if (std::uint64_t{key_of(buffer[count - 1])} < key) {
      std::int32_t at = count;
      insert_at(value, at);
      return at;
    }
    if (std::uint64_t{key_of(buffer[0])} >= key) {
      insert_at(value, 0);
      return 0;
    }
    // key(lo) < key <= key(hi) holds throughout.
    std::int32_t lo = 0;
    std::int32_t hi = count - 1;
    while (hi - lo > 1) {
      std::int32_t mid = lo + (hi - lo) / 2;
      if (std::uint64_t{key_of(buffer[mid])} >= key) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    insert_at(value, hi);
    return hi;
  }

  // Removes the element at i; later elements move down by one.
  void remove_at(std::int32_t i) noexcept {
    std::memmove(buffer + i, buffer + i + 1, sizeof(T) * static_cast<std::size_t>(count - i - 1));
    --count;
  }

  // Sets capacity and count to n; the content is never kept.
  void resize(std::int32_t n) {
    static_assert(sizeof(T) == 2, "resize is for 2-byte elements");
    if (n <= 0) {
      free_block();
      count = n;
      return;
    }
    if (n != capacity) {
      T* block = static_cast<T*>(heap_3::instance().allocate(std::uint64_t{2} * static_cast<std::uint32_t>(n)));
      if (capacity != 0) heap_3::instance().free(buffer);
      buffer = block;
      capacity = n;
    }
    count = n;
  }

  T& operator[](std::int32_t i) { return buffer[i]; }
  const T& operator[](std::int32_t i) const { return buffer[i]; }
  T* begin() { return buffer; }
  T* end() { return buffer + count; }

  T* buffer = nullptr;
  std::int32_t capacity = 0;
  std::int32_t count = 0;

 private:
  void free_block() noexcept {
    if (capacity != 0) heap_3::instance().free(buffer);
    buffer = nullptr;
    capacity = 0;
  }

  [[gnu::noinline]] void grow() {
    std::int64_t wanted = count == 0 ? 8 : 2 * std::int64_t{count};
    if (wanted > max_array_elements) raise_array_too_large();
    reserve(static_cast<std::int32_t>(wanted), true);
  }
};

}  // namespace lagscan
