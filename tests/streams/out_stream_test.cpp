#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/per_thread.h"
#include "streams/out_stream.h"

namespace lagscan {
namespace {

// A stream that supplies only the primitive: every typed write must still
// reach it, through the interface's own reductions.
class recording_stream : public out_stream {
 public:
  void write_cstr(const char* text) override { pieces.emplace_back(text); }
  std::string all() const {
    std::string s;
    for (const auto& p : pieces) s += p;
    return s;
  }
  std::vector<std::string> pieces;
};

TEST(out_stream, typed_writes_reduce_to_write_cstr) {
  struct {
    const char* name;
    void (*write)(out_stream&);
    const char* expected;
  } cases[] = {
      {"half", [](out_stream& o) { o.write_double(0.5); }, "0.5"},
      {"third_nine_digits", [](out_stream& o) { o.write_double(1.0 / 3.0); }, "0.333333333"},
      {"tiny_exponent_form", [](out_stream& o) { o.write_double(1e-20); }, "1e-20"},
      {"negative_zero", [](out_stream& o) { o.write_double(-0.0); }, "-0"},
      {"float_widened", [](out_stream& o) { o.write_float(0.1f); }, "0.100000001"},
      {"size_zero", [](out_stream& o) { o.write_size(0); }, "0"},
      {"size_without_point", [](out_stream& o) { o.write_size(300); }, "300"},
      {"size_above_2_63", [](out_stream& o) { o.write_size(UINT64_MAX); }, "18446744073709551616"},
      {"negative_int", [](out_stream& o) { o.write_int(-7); }, "-7"},
      {"char", [](out_stream& o) { o.write_char('A'); }, "A"},
      {"nul_char_writes_nothing", [](out_stream& o) { o.write_char('\0'); }, ""},
      {"text_up_to_first_nul", [](out_stream& o) {
         text_buffer t(char_range::of("ab"));
         t.buffer[1] = '\0';
         o.put_text(t);
       }, "a"},
      {"range", [](out_stream& o) { o.write_range(char_range::of("xyz")); }, "xyz"},
  };
  for (const auto& c : cases) {
    recording_stream out;
    c.write(out);
    EXPECT_EQ(out.all(), c.expected) << c.name;
  }
}

TEST(out_stream, range_writes_one_char_per_byte_and_nothing_when_empty_or_reversed) {
  recording_stream out;
  const char* text = "abc";
  out.write_range({text, text + 3});
  EXPECT_EQ(out.pieces.size(), 3u);
  out.pieces.clear();
  out.write_range({text, text});
  out.write_range({text + 3, text});
  EXPECT_TRUE(out.pieces.empty());
}

TEST(out_stream, formatting_reuses_the_thread_buffer_at_its_full_size) {
  recording_stream out;
  out.write_double(2.0);
  text_buffer& b = format_buffer();
  EXPECT_GE(b.capacity, 1261);
  EXPECT_EQ(b.length, 1261);
  char* first = b.buffer;
  out.write_double(3.0);
  EXPECT_EQ(b.buffer, first) << "a second write must not take new storage";
}

TEST(file_out, writes_every_byte_including_nul_and_leaves_a_borrowed_handle_open) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  {
    file_out out(f, true);
    out.write_cstr("a");
    out.write_char('\0');
    out.write_int(42);
    out.write_char('\n');
  }
  EXPECT_EQ(std::fputc('z', f), 'z') << "destroying a borrowed stream must not close it";
  std::rewind(f);
  char bytes[16] = {};
  std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
  EXPECT_EQ(std::string(bytes, n), std::string("a\0" "42\nz", 6));
  std::fclose(f);
}

TEST(current_out, answers_the_console_or_the_top_of_the_stack) {
  out_stream& console = current_out();
  EXPECT_EQ(&current_out(), &console);
  recording_stream pushed;
  output_stack().append(&pushed);
  EXPECT_EQ(&current_out(), &pushed);
  output_stack().count = 0;
  EXPECT_EQ(&current_out(), &console);
}

}  // namespace
}  // namespace lagscan
