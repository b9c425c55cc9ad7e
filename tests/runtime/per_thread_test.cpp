#include "runtime/per_thread.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>

namespace lagscan {
namespace {

// This program ran start-up too; the main thread is thread 0.

TEST(char_cell, holds_one_character_or_none) {
  struct {
    char c;
    const char* text;
  } const cases[] = {{'A', "A"}, {'\n', "\n"}, {'\0', ""}, {'\xFF', "\xFF"}};
  for (const auto& c : cases) {
    const char* cell = char_cell(c.c);
    EXPECT_STREQ(cell, c.text) << static_cast<int>(c.c);
    EXPECT_EQ(cell, char_cells().buffer[0].text) << "thread 0 writes its own cell";
  }
}

TEST(per_thread, each_accessor_answers_element_0_on_the_main_thread) {
  ASSERT_EQ(omp_get_thread_num(), 0);
  EXPECT_EQ(&format_buffer(), &format_buffers().buffer[0]);
  EXPECT_EQ(&token_buffer(), &token_buffers().buffer[0]);
  char* separator = separator_cell();
  EXPECT_EQ(separator, separator_cells().buffer[0].text);
  EXPECT_EQ(separator[1], '\0');
}

}  // namespace
}  // namespace lagscan
