// Holder for a process-wide object that is constant-initialised and released
// only by the exit work that start-up registers: its destructor does nothing.
// A plain static would have its own destructor registered when its
// translation unit is initialised, to run before or after the registered
// work, out of the order that start-up fixes.
#pragma once

namespace lagscan {

template <class T>
union never_destroyed {
  constexpr never_destroyed() : value() {}
  never_destroyed(const never_destroyed&) = delete;
  never_destroyed& operator=(const never_destroyed&) = delete;
  ~never_destroyed() {}

  T& get() { return value; }

  T value;
};

}  // namespace lagscan
