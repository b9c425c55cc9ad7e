#include "platform/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace lagscan::platform {
namespace {

std::string temporary_path(const char* stem) {
  return "/tmp/lagscan_" + std::string(stem) + "_" + std::to_string(::getpid()) + ".txt";
}

TEST(open_file, a_redirected_name_opens_its_replacement_with_the_same_mode) {
  std::string replacement = temporary_path("redirect");
  const char* name = "\\no-such-folder\\log.txt";
  redirect_for_tests(name, replacement.c_str());
  std::FILE* f = open_file(name, "w");
  ASSERT_NE(f, nullptr);
  std::fputs("line\n", f);
  std::fclose(f);
  std::ifstream in(replacement);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "line");
  std::remove(replacement.c_str());

  redirect_for_tests(name, nullptr);
  EXPECT_EQ(open_file(name, "w"), nullptr);  // the folder does not exist
}

TEST(open_file, other_names_are_not_redirected_and_backslashes_are_separators) {
  std::string replacement = temporary_path("unused");
  redirect_for_tests("\\x8\\t0.txt", replacement.c_str());
  std::string target = temporary_path("direct");
  std::string with_backslashes = target;
  for (char& c : with_backslashes) c = c == '/' ? '\\' : c;
  std::FILE* f = open_file(with_backslashes.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(std::ifstream(target).good());
  EXPECT_FALSE(std::ifstream(replacement).good());
  std::remove(target.c_str());
  redirect_for_tests("\\x8\\t0.txt", nullptr);
}

}  // namespace
}  // namespace lagscan::platform
