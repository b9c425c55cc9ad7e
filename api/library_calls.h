// The frame of every public entry point: what crosses the interface is a
// std::exception, never an error object raised by pointer nor one of our own
// types, and the library's storage is safe for several host threads.
#pragma once

#include <new>
#include <stdexcept>
#include <string>

#include "memory/size_limit_error.h"
#include "platform/process_heap.h"
#include "runtime/per_thread.h"
#include "streams/except_3.h"

namespace lagscan::api {

// Called at the start of every library call: the heap and the small-block
// pools take their locks from the first call on, since host threads may call
// at once (the programs turn them on only for their parallel regions).
void start_library_call() noexcept;

// An error object that reached the frame: its words (without the leading
// blank) as a std::runtime_error.
[[noreturn]] void raise_as_runtime_error(except_3* error);

template <class F>
auto library_call(F&& work) -> decltype(work()) {
  start_library_call();
  try {
    return work();
  } catch (except_3* error) {
    raise_as_runtime_error(error);
  } catch (const size_limit_error& error) {
    throw std::length_error(error.message());
  } catch (const platform::out_of_storage&) {
    throw std::bad_alloc();  // the standard type: ours is hidden in the shared library
  }
}

using lagscan::scratch_scope;

}  // namespace lagscan::api
