#include "streams/paths.h"

#include <cstring>

#include "platform/files.h"
#include "runtime/per_thread.h"
#include "streams/except_3.h"

namespace lagscan {
namespace {

constexpr int directory_buffer_bytes = 1000;

bool is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

void strip_quotes(text_buffer& t) {
  if (t.size() < 2 || t.buffer[0] != '"') return;
  std::int32_t n = t.size();
  bool closing = t.buffer[n - 1] == '"';
  std::int32_t kept = n - 1 - (closing ? 1 : 0);
  std::memmove(t.buffer, t.buffer + 1, static_cast<std::size_t>(kept));
  t.buffer[kept] = '\0';
  t.length = kept + 1;
}

void unify_separators(text_buffer& t) {
  for (std::int32_t i = 0; i < t.size(); ++i) {
    if (t.buffer[i] == '/') t.buffer[i] = '\\';
  }
}

void current_directory(text_buffer& destination) {
  // On the stack rather than one buffer for the process: paths may be set on
  // several threads at once.
  char directory_buffer[directory_buffer_bytes];
  if (!platform::current_directory(directory_buffer, directory_buffer_bytes)) raise_error("getcwd error");
  destination.assign(char_range::of(directory_buffer));
  ensure_separator(destination);
}

void ensure_separator(text_buffer& t) {
  char last = t.size() > 0 ? t.buffer[t.size() - 1] : '\0';
  if (last == '\\' || last == '/') return;
  char* cell = separator_cell();
  cell[0] = '\\';
  t.append({cell, cell + 1});
}

std::int32_t last_separator(const text_buffer& t) {
  if (t.size() == 0) return INT32_MIN;
  for (std::int32_t i = t.size() - 1; i >= 0; --i) {
    if (is_separator(t.buffer[i])) return i + 1;
  }
  return 0;
}

void directory_part(const text_buffer& source, text_buffer& destination) {
  std::int32_t cut = last_separator(source);
  if (cut <= 0) {
    destination.assign({nullptr, nullptr});
    return;
  }
  destination.copy_from(source);
  destination.buffer[cut] = '\0';
  destination.length = cut + 1;
}

}  // namespace lagscan
