// Start-up: the process-wide objects of the library, made in a fixed order
// before main runs, and released at exit in the reverse order.
//
//   S1  char_cells         omp_get_max_threads() cells, before the count
//                          is settled (first storage request: heap_3)
//   S2  format_buffers     max_num_threads() raw buffers; the first call
//                          settles the count (first small block: the pools;
//                          the file probe first uses separator_cells)
//   S3  token_buffers      max_num_threads() texts of 128 bytes
//   S4  output_stack       nothing to make; only its release
//   S5  reciprocal_table   one filled version of 8192 entries each
//   S6  sqrt_table
//   S7  inv_sqrt_table
//   S8  log_table
//
// Each step registers its exit work with atexit as soon as its object is
// made. Objects made on first use (separator_cells, console_out) register
// theirs when they are made, so for a usual run exit releases console_out,
// the four tables from log_table back, output_stack, token_buffers,
// format_buffers, separator_cells, char_cells. heap_3 and the pools are
// never torn down, so all of this can still give its storage back.
//
// A step that fails (storage exhausted) leaves its object empty and is
// recorded; start-up goes on with the next step, nothing is printed and the
// process is not stopped. Whatever later needs a missing per-thread element
// gets an error that the command reports like any other.
#include "runtime/startup.h"

#include <omp.h>

#include <cstdlib>

#include "runtime/function_table.h"
#include "runtime/per_thread.h"
#include "runtime/thread_count.h"
#include "streams/except_3.h"
#include "streams/out_stream.h"

namespace lagscan {
namespace {

enum step : int {
  s1_char_cells,
  s2_format_buffers,
  s3_token_buffers,
  s4_output_stack,
  s5_reciprocal_table,
  s6_sqrt_table,
  s7_inv_sqrt_table,
  s8_log_table,
};

constexpr const char* released_object[] = {
    "char_cells",       "format_buffers", "token_buffers",  "output_stack",
    "reciprocal_table", "sqrt_table",     "inv_sqrt_table", "log_table",
};

std::uint32_t failed_steps = 0;

template <step s, void (*release)() noexcept>
void exit_work() {
  release();
  note_released(released_object[s]);
}

template <auto table>
void build_table() {
  table().build();
}

template <auto table>
void tear_down_table() noexcept {
  table().tear_down();
}

void run(step s, void (*make)(), void (*work)()) noexcept {
  try {
    make();
  } catch (except_3* error) {
    release_error(error);
    failed_steps |= 1u << s;
    return;
  } catch (...) {
    failed_steps |= 1u << s;
    return;
  }
  // atexit fails only when the C runtime has no room for the entry; the
  // object then lasts until the process ends, like heap_3.
  std::atexit(work);
}

void start_up() noexcept {
  run(s1_char_cells, [] { make_char_cells(omp_get_max_threads()); },
      exit_work<s1_char_cells, release_char_cells>);
  run(s2_format_buffers, [] { make_format_buffers(max_num_threads()); },
      exit_work<s2_format_buffers, release_format_buffers>);
  run(s3_token_buffers, [] { make_token_buffers(max_num_threads()); },
      exit_work<s3_token_buffers, release_token_buffers>);
  run(s4_output_stack, [] {}, exit_work<s4_output_stack, release_output_stack>);
  run(s5_reciprocal_table, build_table<process_tables::reciprocal>,
      exit_work<s5_reciprocal_table, tear_down_table<process_tables::reciprocal>>);
  run(s6_sqrt_table, build_table<process_tables::square_root>,
      exit_work<s6_sqrt_table, tear_down_table<process_tables::square_root>>);
  run(s7_inv_sqrt_table, build_table<process_tables::inverse_square_root>,
      exit_work<s7_inv_sqrt_table, tear_down_table<process_tables::inverse_square_root>>);
  run(s8_log_table, build_table<process_tables::logarithm>,
      exit_work<s8_log_table, tear_down_table<process_tables::logarithm>>);
}

// The one static initialiser of the library that does work. This file is
// linked into every program that links the library (see runtime/CMakeLists.txt),
// so start-up runs even where nothing refers to it.
const bool started = (start_up(), true);

}  // namespace

std::uint32_t failed_startup_steps() noexcept { return failed_steps; }

}  // namespace lagscan
