#include <gtest/gtest.h>

#include <string>

#include "streams/except_3.h"
#include "streams/file_in.h"

namespace lagscan {
namespace {

struct comment_case {
  const char* name;
  std::string text;
  std::string blanked;  // the text afterwards
};

void PrintTo(const comment_case& c, std::ostream* os) { *os << c.name; }

class remove_comments_cases : public ::testing::TestWithParam<comment_case> {};

TEST_P(remove_comments_cases, blanks_only_comment_characters_in_place) {
  const comment_case& c = GetParam();
  text_buffer t(char_range{c.text.data(), c.text.data() + c.text.size()});
  remove_comments(t);
  EXPECT_EQ(std::string(t.c_str()), c.blanked);
  EXPECT_EQ(t.length, static_cast<std::int32_t>(c.text.size()) + 1) << "length must not change";
}

INSTANTIATE_TEST_SUITE_P(
    texts, remove_comments_cases,
    ::testing::Values(
        comment_case{"no_comment", "1 2\n3 4\n", "1 2\n3 4\n"},
        comment_case{"line_comment_keeps_its_line_end", "1 2 ' note\n3 4", "1 2       \n3 4"},
        comment_case{"apostrophe_inside_token", "1 2'x 5\n6", "1 2    \n6"},
        comment_case{"line_comment_at_end_of_text", "1 '", "1  "},
        comment_case{"block_comment_spanning_lines", "1 /* a\nb */ 2", "1           2"},
        comment_case{"nested_block_ends_at_second_close", "/* a /* b */ c */5", "                 5"},
        comment_case{"empty_block", "/**/7", "    7"},
        comment_case{"close_outside_comment_is_text", "*/ 1", "*/ 1"},
        comment_case{"apostrophe_inside_block_is_plain", "/* ' */1\n", "       1\n"},
        comment_case{"block_open_inside_line_comment_is_plain", "' /* \n2", "     \n2"},
        comment_case{"lone_slash_and_star", "/ * 3", "/ * 3"}),
    [](const auto& row) { return std::string(row.param.name); });

class remove_comments_errors : public ::testing::TestWithParam<std::string> {};

TEST_P(remove_comments_errors, unclosed_block_raises_its_message) {
  text_buffer t(char_range::of(GetParam().c_str()));
  try {
    remove_comments(t);
    FAIL() << "no error raised for: " << GetParam();
  } catch (except_3* e) {
    EXPECT_STREQ(e->text.c_str(), " Unclosed comment block");
    release_error(e);
  }
}

INSTANTIATE_TEST_SUITE_P(texts, remove_comments_errors,
                         ::testing::Values("/*", "/* a", "1 /* a *", "/* /* a */", "/*/"));

}  // namespace
}  // namespace lagscan
