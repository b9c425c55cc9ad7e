// The text cursor sstring_in, the file input stream file_in that loads a
// whole file, cleans it and blanks out its comments, and read_numbers.
//
// Data files: tokens separated by space, TAB, CR, LF (NUL reads as space);
// ' starts a comment to the end of the line; /* ... */ comments nest.
// Tokens pair up as x y; read_numbers keeps the y of each pair.
//
// file_in loads a file with one size query and one read; cleaning and
// comment removal then work in place on that text, sixteen bytes at a time
// where they can. read_numbers does the same a buffer's worth at a time.
#pragma once

#include <cstdint>

#include "memory/arrays.h"
#include "memory/text_buffer.h"
#include "streams/char_set.h"
#include "streams/except_3.h"
#include "streams/file_base.h"

namespace lagscan {

// How a data file is opened. lagscan opens its data files for update,
// though it never writes to them: that is its documented behaviour, and a
// file it may not write fails its open. lagscan-matrix, the library and the
// Python module only read, so that read-only data (installed sample files,
// a read-only mount, a data set shared on a cluster) is within their reach.
enum class data_access { update, read_only };

// A cursor over a NUL-terminated text that it does not own.
class sstring_in {
 public:
  sstring_in() = default;
  sstring_in(const sstring_in&) = delete;
  sstring_in& operator=(const sstring_in&) = delete;
  virtual ~sstring_in() = default;

  virtual int at_end() const { return text[position] == '\0'; }
  virtual char peek() const { return text[position]; }
  virtual void skip_space() {
    const char_set& spaces = space_set();
    while (spaces.contains(text[position])) ++position;
  }
  virtual char skip_space_peek() {
    skip_space();
    return peek();
  }
  virtual void attach(const char* t) {
    text = t;
    position = 0;
  }
  virtual const char* path() const { return ""; }
  virtual const char* directory() const { return ""; }
  virtual const char* source_name() const { return "sstring_in"; }
  virtual int ok() const { return 1; }
  virtual std::int32_t current_position() const { return position; }
  virtual void close() {}
  virtual int is_file() const { return 0; }
  virtual std::int32_t serial() const { return -1; }
  virtual int skip_to_end() {
    while (!at_end()) ++position;
    return 1;
  }

  // The current character, consumed; NUL at the end, where it stays.
  char get_char();
  // Passes over the current token without consuming its delimiter.
  void skip_token();
  // The next token in the calling thread's token buffer, valid until the
  // thread's next next_token; "" at the end of the text.
  string_out& next_token();

  const char* text = "";
  std::int32_t position = 0;
};

class file_in final : public file_base, public sstring_in {
 public:
  // Construction flags.
  static constexpr std::int32_t open_now = 1;
  static constexpr std::int32_t load_all = 2;
  static constexpr std::int32_t strip_comments = 4;
  static constexpr std::int32_t keep_cr = 8;
  static constexpr std::int32_t read_only = 16;  // opened for reading ("rb"), not for update ("r+b")

  // Raises " getcwd error" when the path cannot be resolved and, with
  // open_now, " Cannot open file <path>", " File too large <path>" or
  // " Unclosed comment block".
  file_in(char_range path, std::int32_t in_flags);
  ~file_in() override;

  int open(char_range path, std::int32_t open_flags) override;
  int open(std::int32_t open_flags) override;
  const char* path() const override { return file_base::path(); }
  const char* directory() const override { return file_base::directory(); }
  const char* source_name() const override { return file_base::path(); }
  void close() override;
  int is_file() const override { return 1; }
  std::int32_t serial() const override { return serial_number; }

  void load();
  void clean_text(std::int32_t n);

  std::int32_t serial_number = 0;
  std::int32_t in_flags = 0;
  string_out content;
};

// Blanks out comments in place; positions and length stay as they were.
// Raises " Unclosed comment block".
void remove_comments(text_buffer& t);

// Appends the y value of every x y pair of the file at path, reading the
// file a piece of up to buffer_bytes at a time into one block that also
// holds the piece's terminator; the block is buffer_bytes + 1 bytes as
// block_storage rounds it, all of which is used (tests use small ones, so
// that the buffer's ends fall everywhere). The first form takes a block of
// 256 KiB. Raises what a whole load followed by reading its tokens would:
// as file_in does with load_all and strip_comments, and an error of taking
// the values (such as " No per-thread scratch") only when the file holds no
// unclosed comment. Values read before an error is found may already have
// been appended. The file is opened as access says.
void read_numbers(real_array& values, const char* path, data_access access = data_access::update);
void read_numbers(real_array& values, const char* path, std::int32_t buffer_bytes,
                  data_access access = data_access::update);
// The same, with each pair's x appended to x (converted as a y is; a last x
// without its y still gives its y of 0, so both get one count).
void read_pairs(real_array& x, real_array& y, const char* path, data_access access = data_access::update);
void read_numbers(real_array& values, real_array* xs, const char* path, std::int32_t buffer_bytes,
                  data_access access = data_access::update);

}  // namespace lagscan
