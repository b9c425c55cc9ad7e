#include "runtime/per_thread.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>

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

// Threads outside OpenMP all have thread number 0: without a scope they
// would share element 0 of every array.
TEST(scratch_scope, gives_its_thread_buffers_of_its_own_until_it_ends) {
  string_out* seen[2] = {};
  char* separators[2] = {};
  // Both scopes live at once (a thread's stack may be reused by the next).
  std::mutex both;
  std::condition_variable recorded;
  int count = 0;
  auto in_scope = [&](int k) {
    scratch_scope scratch;
    seen[k] = &token_buffer();
    separators[k] = separator_cell();
    {
      std::unique_lock<std::mutex> lock(both);
      ++count;
      recorded.notify_all();
      recorded.wait(lock, [&] { return count == 2; });
    }
    EXPECT_EQ(&format_buffer(), &scratch.format);
    EXPECT_EQ(char_cell('q'), scratch.cell.text);
    EXPECT_STREQ(scratch.cell.text, "q");
    {
      scratch_scope inner;
      EXPECT_EQ(&token_buffer(), &inner.token);  // the innermost serves
    }
    EXPECT_EQ(&token_buffer(), &scratch.token);
  };
  std::thread first(in_scope, 0);
  std::thread second(in_scope, 1);
  first.join();
  second.join();
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(separators[0], separators[1]);
  EXPECT_NE(seen[0], &token_buffers().buffer[0]);
  EXPECT_NE(seen[1], &token_buffers().buffer[0]);
  EXPECT_EQ(&token_buffer(), &token_buffers().buffer[0]);  // a thread without a scope: as before
}

}  // namespace
}  // namespace lagscan
