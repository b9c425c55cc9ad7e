// The loader against a model that reads one character at a time, exactly as
// the data format is described, on random files long enough that tokens,
// comments, NULs and CRs fall on every offset of the sixteen-byte blocks the
// loader reads.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "streams/except_3.h"
#include "streams/file_in.h"
#include "support/temp_dir.h"

namespace lagscan {
namespace {

#if defined(LAGSCAN_SANITIZE)
constexpr int cases = 150;  // instrumented code runs many times slower
#else
constexpr int cases = 1500;
#endif

// --- the model ---------------------------------------------------------------

bool is_space(char c) { return c == ' ' || c == '\r' || c == '\t' || c == '\n'; }
bool is_delimiter(char c) { return is_space(c) || c == '\0'; }

void model_clean(std::string& t, bool keep_cr) {
  for (char& c : t) {
    if (c == '\0' || (!keep_cr && c == '\r')) c = ' ';
  }
}

// False for an unclosed block comment.
bool model_remove_comments(std::string& text) {
  char* p = text.data();  // NUL-terminated by std::string
  std::size_t i = 0;
  while (p[i] != '\0') {
    if (p[i] == '\'') {
      while (p[i] != '\0' && p[i] != '\n') p[i++] = ' ';
    } else if (p[i] == '/' && p[i + 1] == '*') {
      p[i] = p[i + 1] = ' ';
      i += 2;
      int depth = 1;
      while (depth > 0) {
        if (p[i] == '\0' || p[i + 1] == '\0') return false;
        if ((p[i] == '/' && p[i + 1] == '*') || (p[i] == '*' && p[i + 1] == '/')) {
          depth += p[i] == '/' ? 1 : -1;
          p[i] = p[i + 1] = ' ';
          i += 2;
        } else {
          p[i++] = ' ';
        }
      }
    } else {
      ++i;
    }
  }
  return true;
}

std::vector<double> model_read_numbers(const std::string& text) {
  std::vector<double> values;
  const char* p = text.c_str();
  std::size_t i = 0;
  auto skip_space = [&] {
    while (is_space(p[i])) ++i;
  };
  auto skip_token = [&] {
    while (!is_delimiter(p[i])) ++i;
  };
  skip_space();
  while (p[i] != '\0') {
    skip_space();
    skip_token();
    skip_space();
    std::size_t start = i;
    skip_token();
    values.push_back(std::strtod(text.substr(start, i - start).c_str(), nullptr));
    skip_space();
  }
  return values;
}

// --- random data files -------------------------------------------------------

std::string random_token(std::mt19937_64& rng) {
  char text[80];
  switch (rng() % 8) {
    case 0: std::snprintf(text, sizeof text, "%.17g", std::bit_cast<double>(rng())); break;
    case 1: std::snprintf(text, sizeof text, "%g", static_cast<double>(static_cast<std::int64_t>(rng() % 2001) - 1000) / 8); break;
    case 2: std::snprintf(text, sizeof text, "%.40f", static_cast<double>(rng() % 1000)); break;  // longer than a block
    case 3: {
      static const char* const odd[] = {"1,5", "+4", "0x1p3", "inf", "-nan", ".", "-", "1e", "1.5e+", "abc", "\v7", "2\f3",
                                        "*/", "/", "*", "1e400", "4e-320", "\xE9", "5/*x*/", "6'"};
      return odd[rng() % (sizeof odd / sizeof odd[0])];
    }
    default: std::snprintf(text, sizeof text, "%.17g", std::ldexp(static_cast<double>(rng() % 1000000), static_cast<int>(rng() % 40) - 20)); break;
  }
  return text;
}

std::string random_gap(std::mt19937_64& rng) {
  std::string gap;
  switch (rng() % 16) {
    case 0: gap += std::string(1, '\0'); break;
    case 1: gap += " ' a remark /* not a block\n"; break;
    case 2: gap += " /* a block\n /* nested */ ' still in it */ "; break;
    case 3: gap += "\r"; break;
    case 4: gap += std::string(rng() % 40, ' '); break;
    default: break;
  }
  gap += rng() % 3 == 0 ? "\n" : rng() % 2 == 0 ? " " : "\t";
  return gap;
}

std::string random_file(std::mt19937_64& rng) {
  std::string text;
  auto tokens = rng() % 40;
  for (std::uint64_t k = 0; k < tokens; ++k) text += random_token(rng) + random_gap(rng);
  if (rng() % 20 == 0) text += "/* never closed";
  if (rng() % 20 == 0) text += "' ends without a line end";
  return text;
}

// Files of short lines (at most twelve bytes with their line end), so that
// a buffer of a dozen bytes or more holds whole lines and read_numbers
// carries its state from piece to piece: the depth of block comments that
// span many lines and nest, pairs split between lines (lines hold zero to
// three tokens), ' comments that hide an opening, and CR LF, LF or mixed
// line ends. One file in ten leaves a comment open at its end.
std::string short_line_file(std::mt19937_64& rng, std::size_t bytes) {
  static const char* const tokens[] = {"1", "-2", "3.5", "7e1", "x", ".5", "+8", "0x1", "9,"};
  const int line_ends = static_cast<int>(rng() % 3);  // LF, CR LF, either at random
  std::string text;
  int depth = 0;
  while (text.size() < bytes) {
    std::string line;
    bool line_comment = false;
    for (auto atoms = rng() % 4; atoms > 0 && line.size() < 7; --atoms) {
      if (!line.empty()) line += ' ';
      std::uint64_t pick = rng() % 16;
      if (pick < 2) {
        line += "/*";
        if (!line_comment) ++depth;
      } else if (pick < 4 || (pick < 6 && depth > 2)) {
        line += "*/";  // outside a comment, an ordinary token
        if (!line_comment && depth > 0) --depth;
      } else if (pick == 6) {
        line += "'";
        line_comment = line_comment || depth == 0;
      } else {
        line += tokens[rng() % (sizeof tokens / sizeof tokens[0])];
      }
    }
    bool crlf = line_ends == 1 || (line_ends == 2 && rng() % 2 == 0);
    text += line + (crlf ? "\r\n" : "\n");
  }
  if (rng() % 10 != 0) {
    for (; depth > 0; --depth) text += "*/\n";
  }
  return text;
}

// --- the comparison ----------------------------------------------------------

::testing::AssertionResult same_values(const std::vector<double>& expected, const real_array& got) {
  if (static_cast<std::size_t>(got.count) != expected.size()) {
    return ::testing::AssertionFailure() << got.count << " values instead of " << expected.size();
  }
  for (std::size_t k = 0; k < expected.size(); ++k) {
    double value = got[static_cast<std::int32_t>(k)];
    if (std::bit_cast<std::uint64_t>(value) != std::bit_cast<std::uint64_t>(expected[k])) {
      return ::testing::AssertionFailure() << "value " << k << " is " << value << " instead of " << expected[k];
    }
  }
  return ::testing::AssertionSuccess();
}

// The loaded text, or "unclosed" when loading raised that error.
std::string loaded_text(const std::string& path, std::int32_t flags) {
  try {
    file_in in(char_range::of(path.c_str()), flags);
    return std::string(in.content.text.c_str(), static_cast<std::size_t>(in.content.text.size()));
  } catch (except_3* e) {
    std::string message = e->text.c_str();
    release_error(e);
    return message == " Unclosed comment block" ? "unclosed" : "error" + message;
  }
}

TEST(loader, cleans_strips_and_reads_random_files_as_the_character_model_does) {
  lagscan::testing::temp_dir dir;
  std::mt19937_64 rng(17);
  for (int c = 0; c < cases; ++c) {
    std::string bytes = random_file(rng);
    std::string path = dir.write("case.xy", bytes);

    std::string kept = bytes;
    model_clean(kept, true);
    ASSERT_EQ(loaded_text(path, file_in::open_now | file_in::load_all | file_in::keep_cr), kept) << "case " << c;

    std::string text = bytes;
    model_clean(text, false);
    bool closed = model_remove_comments(text);
    const std::int32_t all = file_in::open_now | file_in::load_all | file_in::strip_comments;
    ASSERT_EQ(loaded_text(path, all), closed ? text : "unclosed") << "case " << c;

    real_array values;
    if (!closed) continue;
    read_numbers(values, path.c_str());
    ASSERT_TRUE(same_values(model_read_numbers(text), values)) << "case " << c;
  }
}

// read_numbers reads a file a buffer at a time; with buffers of a few bytes
// their ends fall inside tokens, pairs, line and block comments, CR LF pairs
// and lines longer than the buffer, and the values must not change.
TEST(loader, reads_the_same_values_through_buffers_of_any_size) {
  lagscan::testing::temp_dir dir;
  std::mt19937_64 rng(29);
  const std::int32_t buffer_sizes[] = {1, 2, 3, 5, 16, 17, 64};
  for (int c = 0; c < cases; ++c) {
    std::string bytes = random_file(rng);
    std::string path = dir.write("case.xy", bytes);
    std::string text = bytes;
    model_clean(text, false);
    bool closed = model_remove_comments(text);
    for (std::int32_t size : buffer_sizes) {
      real_array values;
      try {
        read_numbers(values, path.c_str(), size);
        ASSERT_TRUE(closed) << "case " << c << ": an unclosed comment read without error, buffer " << size;
        ASSERT_TRUE(same_values(model_read_numbers(text), values)) << "case " << c << ", buffer " << size;
      } catch (except_3* e) {
        std::string message = e->text.c_str();
        release_error(e);
        ASSERT_FALSE(closed) << "case " << c << " raised" << message << ", buffer " << size;
        ASSERT_EQ(message, " Unclosed comment block") << "case " << c << ", buffer " << size;
      }
    }
  }
}

// read_numbers on a file against the model: the same values, or the error
// of an unclosed comment exactly where the model finds one.
void expect_model_values(const std::string& path, const std::string& bytes, std::int32_t buffer, const std::string& label) {
  std::string text = bytes;
  model_clean(text, false);
  bool closed = model_remove_comments(text);
  real_array values;
  try {
    if (buffer == 0) {
      read_numbers(values, path.c_str());
    } else {
      read_numbers(values, path.c_str(), buffer);
    }
    EXPECT_TRUE(closed) << label << ": an unclosed comment read without error";
    if (closed) {
      EXPECT_TRUE(same_values(model_read_numbers(text), values)) << label;
    }
  } catch (except_3* e) {
    std::string message = e->text.c_str();
    release_error(e);
    EXPECT_FALSE(closed) << label << " raised" << message;
    EXPECT_EQ(message, " Unclosed comment block") << label;
  }
}

// Buffers that hold several short lines: each piece ends at a line end, and
// comment depth and x/y pairing go on in the next piece.
TEST(loader, carries_comment_depth_and_pairing_across_pieces_of_short_lines) {
  lagscan::testing::temp_dir dir;
  std::mt19937_64 rng(41);
  const std::int32_t buffer_sizes[] = {12, 13, 16, 17, 31, 64, 100, 1000};
  for (int c = 0; c < cases / 5; ++c) {
    std::string bytes = short_line_file(rng, 20 + rng() % 3000);
    std::string path = dir.write("short.xy", bytes);
    for (std::int32_t size : buffer_sizes) {
      expect_model_values(path, bytes, size, "case " + std::to_string(c) + ", buffer " + std::to_string(size));
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// Files several default buffers long, read with the default buffer and with
// a small one.
TEST(loader, reads_files_several_buffers_long_as_the_model_does) {
  lagscan::testing::temp_dir dir;
  for (std::uint64_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    std::mt19937_64 rng(seed);
    std::string bytes = short_line_file(rng, (600 + rng() % 600) * 1024);
    std::string path = dir.write("long.xy", bytes);
    for (std::int32_t size : {0, 4096}) {
      expect_model_values(path, bytes, size,
                          "seed " + std::to_string(seed) + ", buffer " + (size == 0 ? "default" : std::to_string(size)));
    }
  }
}

}  // namespace
}  // namespace lagscan
