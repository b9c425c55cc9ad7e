#include "streams/out_stream.h"

#include <cstdlib>

#include "platform/format.h"
#include "runtime/never_destroyed.h"
#include "runtime/per_thread.h"

namespace lagscan {
namespace {

// Formats value into the calling thread's buffer of n bytes and writes it.
template <class T>
void write_formatted(out_stream& out, std::int64_t n, const char* format, T value) {
  text_buffer& b = format_buffer();
  if (b.capacity < n) b.reserve(n, false);
  b.length = static_cast<std::int32_t>(n);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  platform::format_bounded(b.buffer, static_cast<std::size_t>(n), format, value);
#pragma GCC diagnostic pop
  out.write_cstr(b.buffer);
}

}  // namespace

void out_stream::write_size(std::uint64_t value) {
  write_formatted(*this, 1262, "%-1.0f", static_cast<double>(value));
}

void out_stream::write_int(std::int32_t value) { write_formatted(*this, 1258, "%d", value); }

void out_stream::write_float(float value) {
  write_formatted(*this, 1261, "%-.9g", static_cast<double>(value));
}

void out_stream::write_double(double value) { write_formatted(*this, 1261, "%-.9g", value); }

void out_stream::write_range(char_range range) {
  std::int32_t n = range.length();
  for (std::int32_t i = 0; i < n; ++i) write_char(range.begin[i]);
}

void out_stream::write_text(const text_buffer& text) { write_cstr(text.c_str()); }

void out_stream::write_char(char c) { write_cstr(char_cell(c)); }

void out_stream::write_cstr(const char*) {}

file_out::file_out(std::FILE* stream, bool is_borrowed) {
  handle = stream;
  flags = is_borrowed ? borrowed : 0;
}

void file_out::reopen() {
  file_base::close();
  file_base::open(raise_on_fail | report_on_fail);
}

void file_out::write_char(char c) { std::fputc(static_cast<unsigned char>(c), handle); }

void file_out::write_cstr(const char* text) { std::fputs(text, handle); }

namespace {
// Released only by the exit work that start-up registers.
constinit never_destroyed<out_stream_stack> stack;
}  // namespace

out_stream_stack& output_stack() { return stack.get(); }

void release_output_stack() noexcept { stack.get().release_storage(); }

out_stream& current_out() {
  out_stream_stack& stack = output_stack();
  if (stack.count != 0) return *stack[stack.count - 1];
  static file_out console_out(stdout, true);
  return console_out;
}

}  // namespace lagscan
