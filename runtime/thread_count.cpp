#include "runtime/thread_count.h"

#include <omp.h>

#include "streams/except_3.h"
#include "streams/file_in.h"

namespace lagscan {
namespace {

// 0 until the first max_num_threads has finished, then at least 1.
// Later calls only read it, so it needs no lock.
std::int32_t thread_count = 0;

constexpr char count_file_name[] = "maxnumthreads.txt";
constexpr int most_digits = 9;  // nine digits always fit 32 bits

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Up to nine digits after leading white space; 0 when there are none.
std::int32_t read_digits(sstring_in& cursor) {
  cursor.skip_space();
  std::int32_t value = 0;
  for (int stored = 0; stored < most_digits; ++stored) {
    char c = cursor.get_char();
    if (!is_digit(c)) break;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The configured count, 0 when there is none. The file can change or break
// between the probe and the read (it vanished, or a block comment is never
// closed); the count only sizes scratch storage, so such a file counts as
// absent rather than stopping the process.
std::int32_t read_configured_count(char_range path) {
  if (file_exists(path) == 0) return 0;
  try {
    file_in in(path, file_in::open_now | file_in::load_all | file_in::strip_comments);
    return read_digits(in);
  } catch (except_3* error) {
    release_error(error);
  } catch (...) {
  }
  return 0;
}

}  // namespace

int file_exists(char_range path) noexcept {
  try {
    file_in probe(path, file_in::open_now);
    return 1;
  } catch (except_3* error) {
    release_error(error);
  } catch (...) {
  }
  return 0;
}

std::int32_t max_num_threads() {
  if (thread_count != 0) return thread_count;
  string_out path;
  path.append_range(count_file_name, count_file_name + sizeof count_file_name - 1);
  std::int32_t configured = read_configured_count(path.text.range());
  thread_count = resolve_thread_count(configured, omp_get_max_threads());
  // The argument is the count itself, not a 0/1 switch: any count >= 1 turns
  // dynamic adjustment on.
  omp_set_dynamic(thread_count);
  // Later parallel regions get one thread, and omp_get_max_threads() answers
  // 1 from here on, which sizes every per-thread array made after this.
  omp_set_num_threads(1);
  return thread_count;
}

}  // namespace lagscan
