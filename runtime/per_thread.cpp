#include "runtime/per_thread.h"

#include <omp.h>

#include <cstdlib>

#include "memory/heap_3.h"
#include "runtime/never_destroyed.h"
#include "runtime/startup.h"

namespace lagscan {
namespace {

constinit never_destroyed<heap_array<char_pair>> char_cell_array;
constinit never_destroyed<object_array<text_buffer>> format_buffer_array;
constinit never_destroyed<object_array<string_out>> token_buffer_array;
constinit never_destroyed<heap_array<char_pair>> separator_cell_array;

// The innermost scratch_scope of the calling thread. A plain pointer: no
// constructor or destructor runs for it when a thread starts or ends.
constinit thread_local scratch_scope* innermost_scope = nullptr;

[[noreturn, gnu::noinline]] void raise_no_scratch() { raise_error("No per-thread scratch"); }

// The calling thread's index into an array of count elements.
std::int32_t own_index(std::int32_t count) {
  std::int32_t t = omp_get_thread_num();
  if (t >= count) [[unlikely]] raise_no_scratch();
  return t;
}

void make_cells(heap_array<char_pair>& cells, std::int32_t n) {
  cells.resize(n);
  for (std::int32_t i = 0; i < cells.count; ++i) cells.buffer[i].text[1] = '\0';
}

void release_cells(heap_array<char_pair>& cells) noexcept { cells.resize(0); }

// Made on the first call, under the thread-safe initialisation of
// function-local statics, so concurrent first callers wait for one thread to
// make it. Made during the thread-count probe it has the runtime's own
// maximum of cells; after the count is settled, one.
bool make_separator_cells() {
  make_cells(separator_cell_array.get(), omp_get_max_threads());
  std::atexit([] {
    release_separator_cells();
    note_released("separator_cells");
  });
  return true;
}

}  // namespace

scratch_scope::scratch_scope() : outer_(innermost_scope) { innermost_scope = this; }

scratch_scope::~scratch_scope() { innermost_scope = outer_; }

heap_array<char_pair>& char_cells() { return char_cell_array.get(); }
object_array<text_buffer>& format_buffers() { return format_buffer_array.get(); }
object_array<string_out>& token_buffers() { return token_buffer_array.get(); }
heap_array<char_pair>& separator_cells() { return separator_cell_array.get(); }

text_buffer& format_buffer() {
  if (scratch_scope* scope = innermost_scope) [[unlikely]] return scope->format;
  object_array<text_buffer>& buffers = format_buffers();
  return buffers.buffer[own_index(buffers.count)];
}

string_out& token_buffer() {
  if (scratch_scope* scope = innermost_scope) [[unlikely]] return scope->token;
  object_array<string_out>& buffers = token_buffers();
  return buffers.buffer[own_index(buffers.count)];
}

const char* char_cell(char c) {
  heap_array<char_pair>& cells = char_cells();
  scratch_scope* scope = innermost_scope;
  char_pair& cell = scope != nullptr ? scope->cell : cells.buffer[own_index(cells.count)];
  cell.text[0] = c;
  return cell.text;
}

char* separator_cell() {
  if (scratch_scope* scope = innermost_scope) [[unlikely]] return scope->separator.text;
  [[maybe_unused]] static const bool made = make_separator_cells();
  heap_array<char_pair>& cells = separator_cells();
  return cells.buffer[own_index(cells.count)].text;
}

void prepare_for_threads(std::int32_t threads) {
  separator_cell();  // makes separator_cells, with its exit work, if nothing has yet
  heap_array<char_pair>& chars = char_cells();
  if (chars.count > 0 && chars.count < threads) make_cells(chars, threads);
  heap_array<char_pair>& separators = separator_cells();
  if (separators.count > 0 && separators.count < threads) make_cells(separators, threads);
  object_array<text_buffer>& formats = format_buffers();
  if (formats.count > 0 && formats.count < threads) formats.resize(threads);
  object_array<string_out>& tokens = token_buffers();
  if (tokens.count > 0 && tokens.count < threads) tokens.resize(threads);
  locking_switch.fetch_or(1);
}

void make_char_cells(std::int32_t n) { make_cells(char_cell_array.get(), n); }

void make_format_buffers(std::int32_t n) { format_buffer_array.get().resize(n); }

void make_token_buffers(std::int32_t n) { token_buffer_array.get().construct(n); }

void release_char_cells() noexcept { release_cells(char_cell_array.get()); }
void release_format_buffers() noexcept { format_buffer_array.get().destroy(); }
void release_token_buffers() noexcept { token_buffer_array.get().destroy(); }
void release_separator_cells() noexcept { release_cells(separator_cell_array.get()); }

}  // namespace lagscan
