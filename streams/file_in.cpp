#include "streams/file_in.h"

#include <cstring>

#include "platform/files.h"
#include "runtime/per_thread.h"
#include "streams/parse_real.h"

namespace lagscan {
namespace {

std::int32_t serial_counter = 0;  // file inputs are made on one thread
constexpr std::int32_t last_serial = 0x7FFFFFF5;

// Room kept after the file's bytes when it is loaded.
constexpr std::int64_t load_slack = 1001;
// Files of this size or more do not fit the 32-bit text sizes
// (the text, slack included, must stay within a text_buffer).
constexpr std::int64_t largest_loadable = text_buffer::max_bytes - load_slack + 1;

std::int32_t next_serial() {
  std::int32_t next = serial_counter + 1;
  if (next > last_serial) next = 1;
  serial_counter = next;
  return next;
}

}  // namespace

char sstring_in::get_char() {
  if (at_end()) return '\0';
  return text[position++];
}

void sstring_in::skip_token() {
  const char_set& delimiters = delimiter_set();
  while (!delimiters.contains(peek())) ++position;
}

string_out& sstring_in::next_token() {
  skip_space();
  std::int32_t start = position;
  skip_token();
  std::int32_t n = position - start;
  text_buffer& token = token_buffer().text;
  if (token.capacity < n + 1) token.reserve(std::int64_t{n} + 1, true);
  token.length = n + 1;
  token.buffer[n] = '\0';
  std::memcpy(token.buffer, text + start, static_cast<std::size_t>(n));
  return token_buffer();
}

file_in::file_in(char_range path, std::int32_t flags_in) : serial_number(next_serial()) {
  attach(content.text.c_str());
  set_path(path);
  mode.assign(char_range::of("r+b"));
  in_flags = flags_in;
  default_mode();
  if ((in_flags & open_now) != 0) open(raise_on_fail | report_on_fail);
}

file_in::~file_in() = default;

int file_in::open(char_range path, std::int32_t open_flags) {
  set_path(path);
  return open(open_flags);
}

int file_in::open(std::int32_t open_flags) {
  int opened = file_base::open(open_flags);
  if (opened == 1) load();
  return opened;
}

void file_in::close() {
  file_base::close();
  default_mode();
  text_buffer& t = content.text;
  t.reserve(1, false);
  t.length = 1;
  t.buffer[0] = '\0';
  attach(t.c_str());
}

void file_in::load() {
  if ((in_flags & load_all) == 0) return;
  std::int64_t size = platform::file_size(file_path.c_str());
  if (size < 0) size = 0;
  if (size >= largest_loadable) raise_error("File too large", file_path);
  text_buffer& t = content.text;
  if (t.capacity < size + load_slack) {
    t.reserve(size + load_slack, true);
    t.length = static_cast<std::int32_t>(size + load_slack);
    t.buffer[t.length - 1] = '\0';
  }
  std::size_t read = std::fread(t.buffer, 1, static_cast<std::size_t>(size), handle);
  file_base::close();  // the file is released before its text is processed
  auto n = static_cast<std::int32_t>(read);
  if (t.capacity < n + 1) t.reserve(n + 1, true);
  t.length = n + 1;
  t.buffer[n] = '\0';
  clean_text(n);
}

void file_in::clean_text(std::int32_t n) {
  handle = nullptr;
  char* bytes = content.text.buffer;
  bool cr_to_space = (in_flags & keep_cr) == 0;
  for (std::int32_t i = 0; i < n; ++i) {
    if (bytes[i] == '\0' || (cr_to_space && bytes[i] == '\r')) bytes[i] = ' ';
  }
  if ((in_flags & strip_comments) != 0) remove_comments(content.text);
  attach(content.text.c_str());
}

void remove_comments(text_buffer& t) {
  char* p = t.buffer;
  for (std::int32_t i = 0; p[i] != '\0';) {
    if (p[i] == '\'') {
      while (p[i] != '\0' && p[i] != '\n') p[i++] = ' ';
      continue;
    }
    if (p[i] != '/' || p[i + 1] != '*') {
      ++i;
      continue;
    }
    p[i] = p[i + 1] = ' ';
    i += 2;
    for (int depth = 1; depth > 0;) {
      if (p[i] == '\0' || p[i + 1] == '\0') raise_error("Unclosed comment block");
      if (p[i] == '/' && p[i + 1] == '*') {
        ++depth;
      } else if (p[i] == '*' && p[i + 1] == '/') {
        --depth;
      } else {
        p[i++] = ' ';
        continue;
      }
      p[i] = p[i + 1] = ' ';
      i += 2;
    }
  }
}

void read_numbers(real_array& values, const char* path) {
  file_in in(char_range::of(path), file_in::open_now | file_in::load_all | file_in::strip_comments);
  in.skip_space();
  while (in.peek() != '\0') {
    in.skip_space();
    in.skip_token();  // the x of the pair is never looked at
    values.append(parse_real(in.next_token().text.c_str()));
    in.skip_space();
  }
}

}  // namespace lagscan
