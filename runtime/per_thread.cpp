#include "runtime/per_thread.h"

#include <omp.h>

namespace lagscan {
namespace {

struct scratch {
  text_buffer format{text_buffer::raw};
  string_out token;
  char char_cell[2] = {0, 0};
  char separator_cell[2] = {0, 0};
};

scratch& thread_scratch() {
  static const int threads = omp_get_max_threads();
  static scratch* all = new scratch[static_cast<unsigned>(threads)];
  return all[omp_get_thread_num()];
}

}  // namespace

text_buffer& format_buffer() { return thread_scratch().format; }
string_out& token_buffer() { return thread_scratch().token; }

const char* char_cell(char c) {
  char* cell = thread_scratch().char_cell;
  cell[0] = c;
  return cell;
}

char* separator_cell() { return thread_scratch().separator_cell; }

}  // namespace lagscan
