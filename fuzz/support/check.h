// What every fuzz target does with a broken invariant: say which, and abort
// so that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace lagscan::fuzz {

[[noreturn]] inline void invariant_broken(const char* condition, const char* file, int line,
                                          const std::string& detail) {
  std::fprintf(stderr, "\n*** invariant broken at %s:%d: %s\n", file, line, condition);
  if (!detail.empty()) std::fprintf(stderr, "*** %s\n", detail.c_str());
  std::abort();
}

}  // namespace lagscan::fuzz

#define FUZZ_CHECK(condition, detail)                                                     \
  do {                                                                                    \
    if (!(condition)) ::lagscan::fuzz::invariant_broken(#condition, __FILE__, __LINE__, detail); \
  } while (false)
