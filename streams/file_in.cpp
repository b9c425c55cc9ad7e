#include "streams/file_in.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <type_traits>

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

// Blanks the block comment that opens at i, nested ones included, and
// answers the index after its closing pair.
std::int32_t blank_block_comment(char* p, std::int32_t i) {
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
  return i;
}

// remove_comments from index i, where the text has no comment before i.
void blank_comments_from(text_buffer& t, std::int32_t i) {
  char* p = t.buffer;
  const std::int32_t bulk_end = t.length - 1;
  for (i = find_stop(p, i, bulk_end, '\'', '/'); p[i] != '\0'; i = find_stop(p, i, bulk_end, '\'', '/')) {
    if (p[i] == '\'') {
      std::int32_t line_end = find_stop(p, i, bulk_end, '\n', '\n');
      std::memset(p + i, ' ', static_cast<std::size_t>(line_end - i));
      i = line_end;
    } else if (p[i + 1] == '*') {
      i = blank_block_comment(p, i);
    } else {
      ++i;
    }
  }
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
  using namespace byte_scan;
  handle = nullptr;
  char* bytes = content.text.buffer;
  // With keep_cr the second test looks for NUL again.
  const char cr = (in_flags & keep_cr) == 0 ? '\r' : '\0';
  // Comments begin at an apostrophe or a slash: noting the first one here
  // saves comment removal a pass over the text before it.
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
  if ((in_flags & strip_comments) != 0 && first_mark >= 0) blank_comments_from(content.text, first_mark);
  attach(content.text.c_str());
}

void remove_comments(text_buffer& t) { blank_comments_from(t, 0); }

// read_numbers walks the loaded text itself, without a call per character:
// file_in is final and keeps the cursor's own peek and skip_space, which read
// exactly that text.
static_assert(std::is_same_v<decltype(&file_in::peek), char (sstring_in::*)() const>);
static_assert(std::is_same_v<decltype(&file_in::skip_space), void (sstring_in::*)()>);

void read_numbers(real_array& values, const char* path) {
  file_in in(char_range::of(path), file_in::open_now | file_in::load_all | file_in::strip_comments);
  const char_set& spaces = space_set();
  const char_set& delimiters = delimiter_set();
  const auto bound = static_cast<std::uint8_t>(delimiters.end_of_members());
  const auto space_bound = static_cast<std::uint8_t>(spaces.end_of_members());
  const char* text_end = in.content.text.buffer + in.content.text.size();
  const char* p = past_spaces(in.text + in.position, spaces, space_bound);
  if (*p == '\0') return;
  // next_token takes the calling thread's token buffer for every y, and a
  // thread without one raises at the first pair: so the buffer is taken
  // here, even though plain numbers are then read where they stand.
  string_out& token = token_buffer();
  while (*p != '\0') {
    p = token_end(past_spaces(p, spaces, space_bound), text_end, delimiters, bound);  // the x of the pair is never looked at
    const char* start = past_spaces(p, spaces, space_bound);
    double value = 0.0;
    // A plain number is read where it stands; it is the whole token when a
    // delimiter follows it. Other tokens go through the token buffer, as
    // next_token would put them there.
    p = parse_plain_decimal(start, text_end, value);
    if (p == nullptr || !delimiters.contains(*p)) {
      p = token_end(start, text_end, delimiters, bound);
      auto n = static_cast<std::int32_t>(p - start);
      set_token(token.text, start, n);
      value = parse_real(token.text.buffer, n);
    }
    values.append(value);
    p = past_spaces(p, spaces, space_bound);
  }
}

}  // namespace lagscan
