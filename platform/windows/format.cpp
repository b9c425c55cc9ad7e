#include "platform/format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lagscan::platform {
namespace {

// The C runtime spells infinities and NaNs "1.#INF", "-1.#IND", "1.#QNAN"
// and "1.#SNAN"; they become "inf", "-nan" and so on, the C99 spellings.
// Only whole numbers in the text are looked at: a digit 1 that starts the
// text or follows a character that cannot be part of a number.
void respell_special_values(char* text) {
  struct respelling {
    const char* form;
    const char* spelling;
  };
  static constexpr respelling table[] = {
      {"1.#INF", "inf"}, {"1.#IND", "nan"}, {"1.#QNAN", "nan"}, {"1.#SNAN", "nan"}};
  for (char* at = std::strstr(text, "1.#"); at != nullptr; at = std::strstr(at + 1, "1.#")) {
    if (at != text && std::strchr("0123456789.", at[-1]) != nullptr) continue;
    for (const respelling& r : table) {
      std::size_t length = std::strlen(r.form);
      if (std::strncmp(at, r.form, length) != 0) continue;
      // A precision of more than the form's digits pads it with zeros.
      std::size_t end = length;
      while (at[end] == '0') ++end;
      std::size_t spelling = std::strlen(r.spelling);
      std::memcpy(at, r.spelling, spelling);
      std::memmove(at + spelling, at + end, std::strlen(at + end) + 1);
      break;
    }
  }
}

}  // namespace

void format_bounded(char* buffer, std::size_t size, const char* format, ...) {
  if (size == 0) return;
  // The C runtime writes exponents with three digits ("1e-005") unless told
  // otherwise; two, as C99 has them, make the output the same on every
  // system. Set at the first call, which may come before main.
  static const bool two_digit_exponents = [] {
    _set_output_format(_TWO_DIGIT_EXPONENT);
    return true;
  }();
  (void)two_digit_exponents;
  std::va_list args;
  va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  _vsnprintf_s(buffer, size, _TRUNCATE, format, args);  // truncates and terminates
#pragma GCC diagnostic pop
  va_end(args);
  respell_special_values(buffer);
}

}  // namespace lagscan::platform
