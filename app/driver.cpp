#include "app/driver.h"

#include <cstdlib>

#include "app/lag_correlation.h"
#include "memory/arrays.h"
#include "memory/size_limit_error.h"
#include "streams/except_3.h"
#include "streams/file_in.h"
#include "streams/out_stream.h"

namespace lagscan {
namespace {

constexpr const char* usage_text =
    "\n*** Error - three arguments needed *** \n\nUsage:\n\n   lagscan file1.xy file2.xy s\n\nwhere\n\n"
    "   s is an odd number";

// Status 1 whatever the outcome: only the output tells success from failure.
constexpr int exit_status = 1;

// A window wider than this would pass the element limit of real_array.
constexpr std::int32_t widest_window = (std::int32_t{1} << 30) - 1;

[[noreturn]] void stop(end_function end) {
  end(exit_status);
  std::abort();  // an end function that returns breaks its contract
}

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr const char* even_s_text = "s needs to be an odd number\n";

// Stops the command with the message for an s the window cannot be built for.
void check_window_width(std::int32_t s, end_function end) {
  if (const char* message = window_width_message(s)) {
    current_out().write_cstr(message);
    stop(end);
  }
}

}  // namespace

std::int32_t parse_window_width(const char* text) {
  while (is_c_space(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  // Accumulate towards the limit of the sign; stop adding once it is passed.
  constexpr std::int64_t limit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (*text - '0');
  }
  if (negative) return magnitude >= limit ? INT32_MIN : static_cast<std::int32_t>(-magnitude);
  return magnitude >= limit ? INT32_MAX : static_cast<std::int32_t>(magnitude);
}

const char* window_width_message(std::int32_t s) {
  if ((s & 1) == 0) return even_s_text;
  if (s < 0) return "s needs to be a positive odd number\n";
  if (s > widest_window) return "s is too large\n";
  return nullptr;
}

out_stream& write_even_s_message(out_stream& out) {
  out.write_cstr(even_s_text);
  return out;
}

out_stream& write_count_mismatch_message(out_stream& out) {
  out.write_cstr("Number of points in files needs to be the same\n");
  return out;
}

void end_process(int status) { std::exit(status); }

int run_command(int argc, char** argv, end_function end) {
  try {
    if (argc < 4) {
      text_buffer usage(char_range::of(usage_text));
      current_out().put_text(usage);
      stop(end);
    }
    std::int32_t s = parse_window_width(argv[3]);
    check_window_width(s, end);

    real_array a;
    real_array b;
    read_numbers(a, argv[1]);
    read_numbers(b, argv[2]);
    if (a.count != b.count) {
      write_count_mismatch_message(current_out());
      stop(end);
    }

    real_array w;
    w.reserve(s, false);
    w.count = s;
    make_triangle_window(w);
    double value = lag_correlation(w, a, b);

    out_stream& out = current_out();
    out.write_cstr("\nCross Correlation ");
    out.write_double(value);
    out.write_char('\n');
  } catch (except_3* error) {
    out_stream& out = current_out();
    out.write_cstr(error->text.c_str());
    out.write_char('\n');
    release_error(error);
    stop(end);
  } catch (const size_limit_error& error) {
    // Reported as an error object would carry it: a blank, then the words.
    out_stream& out = current_out();
    out.write_char(' ');
    out.write_cstr(error.message());
    out.write_char('\n');
    stop(end);
  } catch (const command_ended&) {
    throw;  // a harness leaving the command, not a failure of it
  } catch (...) {
    current_out().write_cstr("Error\n");
    stop(end);
  }
  return exit_status;
}

}  // namespace lagscan
