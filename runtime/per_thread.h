// Per-thread scratch: each thread works in the element at its own OpenMP
// thread number, so formatting, single-character writes, separators and
// tokens need no lock.
//
//   array            element      elements                          made
//   char_cells       char_pair    omp_get_max_threads() at start-up  step S1
//   format_buffers   text_buffer  max_num_threads(), raw             step S2
//   token_buffers    string_out   max_num_threads(), 128-byte text   step S3
//   separator_cells  char_pair    omp_get_max_threads() when made    first separator_cell()
//
// A cell's second byte stays NUL, so a cell is always a text of at most one
// character. The arrays are never resized after they are made; start-up
// (runtime/startup.cpp) makes them and registers their release at exit.
#pragma once

#include <cstdint>

#include "memory/heap_array.h"
#include "memory/object_array.h"
#include "memory/text_buffer.h"
#include "streams/except_3.h"

namespace lagscan {

// A one-character text: text[0] receives the character, text[1] stays NUL.
struct char_pair {
  char text[2];
};
static_assert(sizeof(char_pair) == 2);

heap_array<char_pair>& char_cells();
object_array<text_buffer>& format_buffers();
object_array<string_out>& token_buffers();
// As it is: empty until the first separator_cell().
heap_array<char_pair>& separator_cells();

// The calling thread's element. A thread without one (start-up could not make
// the array, or the thread number is not below its count) gets the error
// " No per-thread scratch".
text_buffer& format_buffer();
string_out& token_buffer();
// A one-character text holding c in the calling thread's cell, valid until
// the same thread asks again; c = NUL gives the empty text.
const char* char_cell(char c);
// The calling thread's separator cell; the first call in the process makes
// separator_cells and registers its release at exit.
char* separator_cell();

// A thread's own scratch for the length of a scope, for threads that the
// arrays do not count: the host threads that call the public library, which
// all have OpenMP thread number 0 and would share element 0. While a scope
// lives on a thread, that thread's format_buffer, token_buffer, char_cell
// and separator_cell answer from it instead of the arrays; a thread without
// one (the programs' threads) is served as before. Scopes nest, the
// innermost serving, and end on the thread that made them, in reverse order.
// The token text is made with the scope, so that its storage failure is
// raised there and not by a later token_buffer().
class scratch_scope {
 public:
  scratch_scope();
  scratch_scope(const scratch_scope&) = delete;
  scratch_scope& operator=(const scratch_scope&) = delete;
  ~scratch_scope();

  text_buffer format{text_buffer::raw};
  string_out token;
  char_pair cell{};
  char_pair separator{};

 private:
  scratch_scope* outer_;
};

// For a program that opens parallel regions of up to `threads` threads that
// read files, format or allocate: every per-thread array that start-up made
// gets at least that many elements (their contents are scratch and are not
// kept), separator_cells is made if it was not, and the small-block pools
// start taking their locks. Call it on one thread, outside any parallel
// region, while no per-thread element is in use. An array that start-up
// could not make stays empty, so its users still get " No per-thread
// scratch". The lagscan command never calls this: it runs on one thread.
void prepare_for_threads(std::int32_t threads);

// The steps that make the arrays and the exit work that releases them. A
// step that fails leaves its array empty and raises.
void make_char_cells(std::int32_t n);
void make_format_buffers(std::int32_t n);
void make_token_buffers(std::int32_t n);
void release_char_cells() noexcept;
void release_format_buffers() noexcept;
void release_token_buffers() noexcept;
void release_separator_cells() noexcept;

}  // namespace lagscan
