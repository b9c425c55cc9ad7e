#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "streams/file_base.h"
#include "streams/paths.h"

namespace lagscan {
namespace {

std::string text_of(const text_buffer& t) { return std::string(t.c_str(), static_cast<std::size_t>(t.size())); }

std::string cwd_with_separator() {
  char buffer[4096];
  EXPECT_NE(::getcwd(buffer, sizeof buffer), nullptr);
  std::string d = buffer;
  return d.back() == '/' ? d : d + "\\";
}

struct text_case {
  const char* in;
  const char* out;
};

TEST(strip_quotes, removes_surrounding_quotes_only) {
  const text_case cases[] = {{"\"a.xy\"", "a.xy"}, {"\"a.xy", "a.xy"}, {"\"", "\""},   {"a\"", "a\""},
                             {"\"\"", ""},         {"", ""},          {"a.xy", "a.xy"}, {"\"a\"b\"", "a\"b"}};
  for (const auto& c : cases) {
    text_buffer t(char_range::of(c.in));
    strip_quotes(t);
    EXPECT_EQ(text_of(t), c.out) << "from " << c.in;
    EXPECT_EQ(t.c_str()[t.size()], '\0');
  }
}

TEST(unify_separators, turns_every_slash_into_a_backslash) {
  text_buffer t(char_range::of("C:/data/sub\\a.xy"));
  unify_separators(t);
  EXPECT_EQ(text_of(t), "C:\\data\\sub\\a.xy");
}

TEST(last_separator, finds_slash_colon_or_backslash_from_the_end) {
  struct {
    const char* in;
    std::int32_t at;
  } cases[] = {{"C:\\data\\a.xy", 8}, {"C:a.xy", 2}, {"a.xy", 0}, {"dir/a", 4}, {"\\", 1}, {"", INT32_MIN}};
  for (const auto& c : cases) {
    text_buffer t(char_range::of(c.in));
    EXPECT_EQ(last_separator(t), c.at) << c.in;
  }
}

TEST(directory_part, keeps_everything_up_to_the_last_separator) {
  const text_case cases[] = {{"C:\\data\\a.xy", "C:\\data\\"}, {"C:a.xy", "C:"}, {"a.xy", ""}, {"", ""}};
  for (const auto& c : cases) {
    text_buffer source(char_range::of(c.in));
    text_buffer destination(char_range::of("stale"));
    directory_part(source, destination);
    EXPECT_EQ(text_of(destination), c.out) << c.in;
  }
}

TEST(ensure_separator, appends_a_backslash_only_when_missing) {
  const text_case cases[] = {{"dir", "dir\\"}, {"dir\\", "dir\\"}, {"dir/", "dir/"}, {"", "\\"}};
  for (const auto& c : cases) {
    text_buffer t(char_range::of(c.in));
    ensure_separator(t);
    EXPECT_EQ(text_of(t), c.out) << c.in;
  }
}

TEST(set_path, resolves_the_directory_of_each_kind_of_path) {
  const std::string cwd = cwd_with_separator();
  struct {
    const char* path;
    std::string stored;
    std::string directory;
  } cases[] = {
      {"\"C:/data/a.xy\"", "C:/data/a.xy", "C:/data/"},
      {"\\\\server\\share\\a.xy", "\\\\server\\share\\a.xy", "\\\\server\\share\\"},
      {"C:a.xy", "C:a.xy", "C:\\"},
      {"a.xy", "a.xy", cwd},
      {"sub/dir/a.xy", "sub/dir/a.xy", cwd + "sub/dir/"},
      {"", "", cwd},
  };
  for (const auto& c : cases) {
    file_base f;
    f.set_path(char_range::of(c.path));
    EXPECT_EQ(std::string(f.path()), c.stored) << c.path;
    EXPECT_EQ(std::string(f.directory()), c.directory) << c.path;
  }
}

}  // namespace
}  // namespace lagscan
