#include <gtest/gtest.h>

#include <string>

#include "memory/block_storage.h"
#include "memory/storage_counters.h"
#include "streams/except_3.h"

namespace lagscan {
namespace {

TEST(string_out, starts_empty_in_a_128_byte_block_from_its_pool_slot) {
  auto& counters = block_storage::thread_counters();
  std::uint64_t before = counters.pool_takes[16];
  string_out s;
  EXPECT_EQ(s.text_length(), 0);
  EXPECT_EQ(s.text.capacity, 128);
  EXPECT_EQ(s.text.length, 1);
  EXPECT_EQ(s.text.buffer[0], '\0');
  EXPECT_EQ(counters.pool_takes[16], before + 1);
}

TEST(string_out, append_range_ignores_empty_and_reversed_ranges) {
  string_out s;
  const char* t = "abc";
  s.append_range(t, t + 3).append_range(t + 2, t + 2).append_range(t + 3, t);
  EXPECT_STREQ(s.text.c_str(), "abc");
  EXPECT_EQ(s.text_length(), 3);
}

struct message_case {
  std::vector<std::string> words;
  std::string text;
};

TEST(except_3, every_word_follows_one_blank) {
  const message_case cases[] = {
      {{"getcwd error"}, " getcwd error"},
      {{"Cannot open file", "a.xy"}, " Cannot open file a.xy"},
      {{"Cannot open file", ""}, " Cannot open file "},
      {{"", ""}, "  "},
  };
  for (const auto& c : cases) {
    except_3* e = nullptr;
    create_error(e);
    for (const auto& w : c.words) append_word(e, w.c_str());
    EXPECT_EQ(std::string(e->text.c_str()), c.text);
    EXPECT_EQ(e->text_length(), static_cast<std::int64_t>(c.text.size()));
    EXPECT_EQ(e->text.length, static_cast<std::int32_t>(c.text.size()) + 1);
    release_error(e);
  }
}

TEST(except_3, text_buffer_word_and_growth_past_127_characters_keep_the_text) {
  std::string path(200, 'p');
  path[0] = 'A';
  path.back() = 'Z';
  text_buffer word(char_range{path.data(), path.data() + path.size()});
  except_3* e = nullptr;
  append_word(append_word(create_error(e), "Cannot open file"), word);
  std::string expected = " Cannot open file " + path;
  EXPECT_EQ(std::string(e->text.c_str()), expected);
  std::int64_t needed = static_cast<std::int64_t>(expected.size()) + 1;
  EXPECT_EQ(e->text.capacity, static_cast<std::int32_t>(block_storage::round_bytes(static_cast<std::uint64_t>(2 * needed))));
  release_error(e);
}

TEST(except_3, is_caught_as_except_3_string_out_and_void_pointer) {
  int caught = 0;
  try {
    raise_error("one");
  } catch (except_3* e) {
    ++caught;
    release_error(e);
  }
  try {
    raise_error("two");
  } catch (string_out* s) {
    ++caught;
    EXPECT_STREQ(s->text.c_str(), " two");
    release_error(static_cast<except_3*>(s));
  }
  try {
    raise_error("three");
  } catch (void* p) {
    ++caught;
    release_error(static_cast<except_3*>(p));
  }
  EXPECT_EQ(caught, 3);
}

TEST(except_3, a_caught_and_released_error_returns_every_block) {
  auto& c = block_storage::thread_counters();
  auto live = [&c](int slot) { return c.pool_takes[slot] - c.pool_returns[slot]; };
  auto heap_live = [&c] { return c.heap_takes - c.heap_returns; };
  const std::uint64_t object = live(3), text = live(16), heap = heap_live();
  text_buffer long_word;
  long_word.assign(char_range::of(std::string(300, 'x').c_str()));
  const std::uint64_t heap_with_word = heap_live();
  try {
    raise_error("Cannot open file", long_word);
  } catch (except_3* e) {
    EXPECT_EQ(live(3), object + 1);
    release_error(e);
  }
  EXPECT_EQ(live(3), object);
  EXPECT_EQ(live(16), text);
  EXPECT_EQ(heap_live(), heap_with_word);
  EXPECT_EQ(heap_with_word, heap + 1);
}

}  // namespace
}  // namespace lagscan
