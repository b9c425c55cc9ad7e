#include "streams/file_in.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <exception>

#include "platform/files.h"
#include "runtime/per_thread.h"
#include "streams/byte_scan.h"
#include "streams/parse_real.h"

namespace lagscan {
namespace {

// File inputs may be made on several threads at once (lagscan-matrix reads
// its files in parallel), so the counter is advanced atomically.
constinit std::atomic<std::int32_t> serial_counter{0};
constexpr std::int32_t last_serial = 0x7FFFFFF5;

// read_numbers' buffer: one 256 KiB block of heap_3, which holds a piece of
// the file and its terminator. One byte more would take the next class, a
// block twice the size.
constexpr std::int32_t read_block_bytes = 256 * 1024;

// Room kept after the file's bytes when it is loaded.
constexpr std::int64_t load_slack = 1001;
// Files of this size or more do not fit the 32-bit text sizes
// (the text, slack included, must stay within a text_buffer).
constexpr std::int64_t smallest_refused_size = text_buffer::max_bytes - load_slack + 1;

std::int32_t next_serial() {
  std::int32_t current = serial_counter.load(std::memory_order_relaxed);
  std::int32_t next = 0;
  do {
    next = current < last_serial ? current + 1 : 1;
  } while (!serial_counter.compare_exchange_weak(current, next, std::memory_order_relaxed));
  return next;
}

// The token text of next_token: the n bytes at start, then a NUL.
void set_token(text_buffer& token, const char* start, std::int32_t n) {
  if (token.capacity < n + 1) token.reserve(std::int64_t{n} + 1, true);
  token.length = n + 1;
  token.buffer[n] = '\0';
  std::memcpy(token.buffer, start, static_cast<std::size_t>(n));
}

// The first index from i whose byte is a, b or NUL. Whole blocks are read
// only before bulk_end, the index of the text's terminator.
std::int32_t find_stop(const char* p, std::int32_t i, std::int32_t bulk_end, char a, char b) {
  using namespace byte_scan;
  for (; i + block_bytes <= bulk_end; i += block_bytes) {
    __m128i bytes = load_bytes(p + i);
    unsigned stops = bits(_mm_or_si128(_mm_or_si128(equal(bytes, a), equal(bytes, b)), equal(bytes, '\0')));
    if (stops != 0) return i + std::countr_zero(stops);
  }
  while (p[i] != a && p[i] != b && p[i] != '\0') ++i;
  return i;
}

// Blanks the rest of a block comment from i, inside depth levels of it, and
// answers the index after its closing pair, depth then 0. A text that ends
// inside the comment raises " Unclosed comment block" when it ends the file
// (at_end); otherwise it is one piece of a file whose last byte is a line
// end, and the index of its terminator is answered with depth still open.
std::int32_t blank_block_rest(char* p, std::int32_t i, std::int32_t& depth, bool at_end) {
  while (depth > 0) {
    if (p[i] == '\0' || p[i + 1] == '\0') {
      if (at_end) raise_error("Unclosed comment block");
      if (p[i] != '\0') p[i++] = ' ';
      return i;
    }
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
  return i;
}

// Blanks the comments of the n bytes at p (p[n] is NUL) from index i, where
// no comment starts before i unless the text begins depth levels inside a
// block comment; answers the depth open at the end, as blank_block_rest.
std::int32_t blank_comments_in(char* p, std::int32_t i, std::int32_t n, std::int32_t depth, bool at_end) {
  if (depth > 0) {
    i = blank_block_rest(p, 0, depth, at_end);
    if (depth > 0) return depth;
  }
  for (i = find_stop(p, i, n, '\'', '/'); p[i] != '\0'; i = find_stop(p, i, n, '\'', '/')) {
    if (p[i] == '\'') {
      std::int32_t line_end = find_stop(p, i, n, '\n', '\n');
      std::memset(p + i, ' ', static_cast<std::size_t>(line_end - i));
      i = line_end;
    } else if (p[i + 1] == '*') {
      p[i] = p[i + 1] = ' ';
      depth = 1;
      i = blank_block_rest(p, i + 2, depth, at_end);
      if (depth > 0) return depth;
    } else {
      ++i;
    }
  }
  return 0;
}

// Turns NUL and cr in the n bytes at bytes into blanks and answers the index of
// the first apostrophe or slash, where a comment may begin (-1: none), so
// that comment removal need not pass over the text before it.
std::int32_t clean_bytes(char* bytes, std::int32_t n, char cr) {
  using namespace byte_scan;
  std::int32_t first_mark = -1;
  std::int32_t i = 0;
  for (; i + block_bytes <= n; i += block_bytes) {
    __m128i block = load_bytes(bytes + i);
    __m128i blanks = _mm_or_si128(equal(block, '\0'), equal(block, cr));
    if (bits(blanks) != 0) store_bytes(bytes + i, replace(block, blanks, ' '));
    unsigned marks = bits(_mm_or_si128(equal(block, '\''), equal(block, '/')));
    if (marks != 0 && first_mark < 0) first_mark = i + std::countr_zero(marks);
  }
  for (; i < n; ++i) {
    if (bytes[i] == '\0' || bytes[i] == cr) bytes[i] = ' ';
    if ((bytes[i] == '\'' || bytes[i] == '/') && first_mark < 0) first_mark = i;
  }
  return first_mark;
}

// No space is at or above bound: most bytes a token starts with are, which
// one compare tells without the table.
const char* past_spaces(const char* p, const char_set& spaces, std::uint8_t bound) {
  while (static_cast<std::uint8_t>(*p) < bound && spaces.contains(*p)) ++p;
  return p;
}

// Where the token at p ends: its first byte in delimiters. No delimiter is
// at or above bound, so a block without bytes below it is passed whole.
const char* token_end(const char* p, const char* bulk_end, const char_set& delimiters, std::uint8_t bound) {
  using namespace byte_scan;
  while (p + block_bytes <= bulk_end) {
    unsigned low = bits(below(load_bytes(p), bound));
    if (low == 0) {
      p += block_bytes;
      continue;
    }
    p += std::countr_zero(low);
    if (delimiters.contains(*p)) return p;
    ++p;
  }
  while (!delimiters.contains(*p)) ++p;
  return p;
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
  string_out& token = token_buffer();
  set_token(token.text, text + start, position - start);
  return token;
}

file_in::file_in(char_range path, std::int32_t flags_in) : serial_number(next_serial()) {
  attach(content.text.c_str());
  set_path(path);
  // For update unless asked otherwise: see data_access.
  mode.assign(char_range::of((flags_in & read_only) != 0 ? "rb" : "r+b"));
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
  if (size >= smallest_refused_size) raise_error("File too large", file_path);
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
  // With keep_cr the second test looks for NUL again.
  std::int32_t first_mark = clean_bytes(bytes, n, (in_flags & keep_cr) == 0 ? '\r' : '\0');
  if ((in_flags & strip_comments) != 0 && first_mark >= 0) blank_comments_in(bytes, first_mark, n, 0, true);
  attach(content.text.c_str());
}

void remove_comments(text_buffer& t) { blank_comments_in(t.buffer, 0, t.length - 1, 0, true); }

namespace {

// The y values of a file's text, taken a piece at a time. Pieces end at line
// ends, which no token or line comment crosses; a pair may still be split
// between two pieces, so whether the next token is an x or a y is kept.
class pair_reader {
 public:
  // With xs, each pair's x is converted too (as a y is) and appended there.
  explicit pair_reader(real_array& into, real_array* xs = nullptr) : values(into), x_values(xs) {}

  // The tokens of the cleaned text from p to its terminator at end.
  void read(const char* p, const char* end) {
    p = past_spaces(p, spaces, space_bound);
    while (*p != '\0') {
      if (!y_next) {
        if (x_values != nullptr) {
          x_values->append(y_value(p, end));
          p = past_spaces(p, spaces, space_bound);
        } else {
          p = past_spaces(token_end(p, end, delimiters, bound), spaces, space_bound);  // the command never looks at x
        }
        y_next = true;
        if (*p == '\0') return;
      }
      values.append(y_value(p, end));
      y_next = false;
      p = past_spaces(p, spaces, space_bound);
    }
  }

  // At the end of the file an x without its y still gives a value: that of
  // the empty token.
  void finish() {
    if (!y_next) return;
    const char* empty = "";
    values.append(y_value(empty, empty));
    y_next = false;
  }

 private:
  // The value of the y token at p, which p then passes. A plain number is
  // read where it stands; it is the whole token when a delimiter follows it.
  // Other tokens go through the calling thread's token buffer, as
  // next_token would put them there; it is taken for the first y even when
  // that is a plain number, since a thread without one raises there.
  double y_value(const char*& p, const char* end) {
    if (token == nullptr) token = &token_buffer();
    const char* start = p;
    double value = 0.0;
    p = parse_plain_decimal(start, end, value);
    if (p == nullptr || !delimiters.contains(*p)) {
      p = token_end(start, end, delimiters, bound);
      auto n = static_cast<std::int32_t>(p - start);
      set_token(token->text, start, n);
      value = parse_real(token->text.buffer, n);
    }
    return value;
  }

  real_array& values;
  real_array* x_values;
  string_out* token = nullptr;
  bool y_next = false;
  const char_set& spaces = space_set();
  const char_set& delimiters = delimiter_set();
  const std::uint8_t bound = static_cast<std::uint8_t>(delimiters.end_of_members());
  const std::uint8_t space_bound = static_cast<std::uint8_t>(spaces.end_of_members());
};

// An error raised while values were taken from a piece, held back until the
// rest of the file has been cleaned: a whole load finds an unclosed comment
// before it takes a single token, so that error must win over any that
// taking tokens raises (a thread without scratch, exhausted storage). An
// error object belongs to whoever catches it, so one that is dropped for
// the unclosed comment is released here.
class held_error {
 public:
  held_error() = default;
  held_error(const held_error&) = delete;
  held_error& operator=(const held_error&) = delete;
  ~held_error() {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (except_3* e) {
      release_error(e);
    } catch (...) {
    }
  }

  explicit operator bool() const { return static_cast<bool>(error); }
  // Inside a handler: keeps the error being handled.
  void hold() { error = std::current_exception(); }
  [[noreturn]] void raise() {
    std::exception_ptr e = error;
    error = nullptr;
    std::rethrow_exception(e);
  }

 private:
  std::exception_ptr error;
};

// The index after the last line end of the n bytes at p; 0 when there is none.
std::int32_t after_last_line_end(const char* p, std::int32_t n) {
  while (n > 0 && p[n - 1] != '\n') --n;
  return n;
}

}  // namespace

void read_numbers(real_array& values, const char* path, data_access access) {
  read_numbers(values, path, read_block_bytes - 1, access);
}

void read_numbers(real_array& values, const char* path, std::int32_t buffer_bytes, data_access access) {
  read_numbers(values, nullptr, path, buffer_bytes, access);
}

void read_pairs(real_array& x, real_array& y, const char* path, data_access access) {
  read_numbers(y, &x, path, read_block_bytes - 1, access);
}

// The file passes through one buffer a piece at a time instead of being
// loaded whole: the pieces stay in the processor's caches between the read
// and the tokens, and the kernel neither clears nor fills a block as large as
// the file. Each piece is cleaned and its comments blanked as a whole file's
// text would be, with the depth of an open block comment carried over.
void read_numbers(real_array& values, real_array* xs, const char* path, std::int32_t buffer_bytes,
                  data_access access) {
  file_in in(char_range::of(path), file_in::open_now | (access == data_access::read_only ? file_in::read_only : 0));
  std::int64_t size = platform::file_size(in.path());
  if (size < 0) size = 0;
  if (size >= smallest_refused_size) raise_error("File too large", in.file_path);
  text_buffer piece;
  piece.reserve((size < buffer_bytes ? size : buffer_bytes) + 1, false);
  pair_reader reader(values, xs);
  std::int64_t unread = size;  // a file that grew since its size was asked is read only that far
  std::int32_t kept = 0;       // bytes of a line that the last read left unfinished
  std::int32_t depth = 0;      // block comments still open where the last piece ended
  held_error held;             // from taking tokens; the pieces after it are only cleaned
  for (;;) {
    // A line longer than the buffer (a file of one line, or with CR line
    // ends only): the rest of the file is taken at once, as a whole load
    // would, which keeps the memory within that of a whole load.
    if (kept == piece.capacity - 1) piece.reserve(size + 1, true);
    std::int64_t room = piece.capacity - 1 - kept;
    auto wanted = static_cast<std::size_t>(room < unread ? room : unread);
    std::size_t got = wanted > 0 ? std::fread(piece.buffer + kept, 1, wanted, in.handle) : 0;
    unread -= static_cast<std::int64_t>(got);
    const bool at_end = got < wanted || unread == 0;  // a failed read ends the text, as for a whole load
    const std::int32_t filled = kept + static_cast<std::int32_t>(got);
    const std::int32_t piece_end = at_end ? filled : after_last_line_end(piece.buffer, filled);
    if (piece_end == 0 && !at_end) {
      kept = filled;
      continue;
    }
    char* text = piece.buffer;
    const char next = text[piece_end];
    text[piece_end] = '\0';
    std::int32_t first_mark = clean_bytes(text, piece_end, '\r');
    if (first_mark >= 0 || depth > 0) depth = blank_comments_in(text, first_mark, piece_end, depth, at_end);
    if (!held) {
      try {
        reader.read(text, text + piece_end);
      } catch (...) {
        held.hold();
      }
    }
    if (at_end) break;
    text[piece_end] = next;
    kept = filled - piece_end;
    std::memmove(text, text + piece_end, static_cast<std::size_t>(kept));
  }
  if (held) held.raise();
  reader.finish();
}

}  // namespace lagscan
