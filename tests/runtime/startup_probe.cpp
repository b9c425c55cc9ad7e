// Test-only program: prints, as name=value lines, the state that start-up
// left (from main) and the state after all exit work (from an exit handler
// registered before start-up runs, so that it runs after all the rest).
//
// Arguments, each an extra action after the start-up report:
//   recount       rewrite maxnumthreads.txt to 1 and ask the count again
//   write_number  one numeric write on this thread, around which the
//                 thread's format buffer is reported
#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "memory/block_storage.h"
#include "runtime/function_table.h"
#include "runtime/per_thread.h"
#include "runtime/startup.h"
#include "runtime/thread_count.h"
#include "storage_count.h"
#include "streams/out_stream.h"

namespace lagscan {
namespace {

void print(const char* phase, const char* name, long long value) { std::printf("%s.%s=%lld\n", phase, name, value); }

template <class A>
void print_array(const char* phase, const char* name, const A& a) {
  char key[64];
  std::snprintf(key, sizeof key, "%s.count", name);
  print(phase, key, a.count);
  std::snprintf(key, sizeof key, "%s.capacity", name);
  print(phase, key, a.capacity);
}

// Cells whose second byte is NUL.
long long nul_terminated(const heap_array<char_pair>& cells) {
  long long n = 0;
  for (std::int32_t i = 0; i < cells.count; ++i) n += cells.buffer[i].text[1] == '\0' ? 1 : 0;
  return n;
}

void print_tables(const char* phase) {
  struct named {
    const char* name;
    function_table& table;
  };
  const named tables[] = {{"reciprocal_table", process_tables::reciprocal()},
                          {"sqrt_table", process_tables::square_root()},
                          {"inv_sqrt_table", process_tables::inverse_square_root()},
                          {"log_table", process_tables::logarithm()}};
  for (const named& t : tables) {
    char key[64];
    std::snprintf(key, sizeof key, "%s.versions", t.name);
    print(phase, key, t.table.versions.count);
    std::snprintf(key, sizeof key, "%s.versions_capacity", t.name);
    print(phase, key, t.table.versions.capacity);
    if (t.table.versions.count > 0) {
      std::snprintf(key, sizeof key, "%s.entries", t.name);
      print(phase, key, t.table.version(0).count);
    }
  }
}

void print_arrays(const char* phase) {
  print_array(phase, "char_cells", char_cells());
  print_array(phase, "separator_cells", separator_cells());
  print_array(phase, "format_buffers", format_buffers());
  print_array(phase, "token_buffers", token_buffers());
  print_array(phase, "output_stack", output_stack());
  print_tables(phase);
}

void report_start() {
  const char* phase = "start";
  print(phase, "failed_steps", failed_startup_steps());
  print(phase, "omp_max_threads", omp_get_max_threads());
  print(phase, "thread_count", max_num_threads());
  print_arrays(phase);
  print(phase, "char_cells.nul_terminated", nul_terminated(char_cells()));
  print(phase, "separator_cells.nul_terminated", nul_terminated(separator_cells()));
  long long raw = 0;
  for (std::int32_t i = 0; i < format_buffers().count; ++i) {
    const text_buffer& b = format_buffers().buffer[i];
    raw += b.capacity == 0 && b.length == 0 ? 1 : 0;
  }
  print(phase, "format_buffers.raw", raw);
  long long empty_128 = 0;
  for (std::int32_t i = 0; i < token_buffers().count; ++i) {
    const text_buffer& t = token_buffers().buffer[i].text;
    empty_128 += t.capacity == 128 && t.length == 1 && t.buffer[0] == '\0' ? 1 : 0;
  }
  print(phase, "token_buffers.empty_128", empty_128);
}

// A stream that drops the text: only the formatting into the buffer counts.
class dropping_out final : public out_stream {};

void write_number() {
  print("use", "format_buffer.capacity_before", format_buffer().capacity);
  dropping_out out;
  out.write_double(0.5);
  print("use", "format_buffer.capacity_after", format_buffer().capacity);
}

void recount() {
  std::FILE* f = std::fopen("maxnumthreads.txt", "wb");
  if (f == nullptr) std::abort();
  std::fputs("1", f);
  std::fclose(f);
  print("use", "recount", max_num_threads());
}

void report_exit() {
  const char* phase = "exit";
  print_arrays(phase);
  std::printf("exit.order=");
  const exit_record& done = exit_work_done();
  for (int i = 0; i < done.count; ++i) std::printf("%s%s", i == 0 ? "" : ",", done.released[i]);
  std::printf("\n");
  print(phase, "outstanding_blocks", testing::outstanding_blocks());
  // The storage sources outlive all exit work: a pool block and a heap
  // block can still be had and given back.
  void* small = block_storage::allocate_bytes(24);
  void* large = block_storage::allocate_bytes(4096);
  block_storage::free_bytes(large, 4096);
  block_storage::free_bytes(small, 24);
  print(phase, "storage_serves", small != nullptr && large != nullptr ? 1 : 0);
}

// Registered before the library's start-up, so it runs after all its exit work.
struct exit_reporter {
  exit_reporter() { std::atexit(report_exit); }
};
__attribute__((init_priority(101))) exit_reporter reporter;

}  // namespace
}  // namespace lagscan

int main(int argc, char** argv) {
  lagscan::report_start();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "recount") == 0) lagscan::recount();
    if (std::strcmp(argv[i], "write_number") == 0) lagscan::write_number();
  }
  // The first separator_cell after start-up, for runs where start-up never made the cells.
  lagscan::separator_cell();
  lagscan::print_array("use", "separator_cells", lagscan::separator_cells());
  return 0;
}
