// The loader on arbitrary bytes as a data file: cleaning, comment removal and
// read_numbers, against the plain model of the data-file rules.
//
// Invariants for every input:
//  - the cleaned text keeps the file's length and equals the model's;
//  - an unclosed block comment is the only error, raised exactly when the
//    model finds one, as " Unclosed comment block";
//  - read_numbers appends ceil(tokens / 2) values, each the C library's
//    conversion of the second token of its pair, and keeps what was there,
//    through its own buffer and through one of a few bytes;
//  - the file's bytes and modification time are unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "memory/arrays.h"
#include "streams/except_3.h"
#include "streams/file_in.h"
#include "support/check.h"
#include "support/models.h"
#include "support/scratch_dir.h"

namespace lagscan::fuzz {
namespace {

const scratch_dir& scratch() {
  static const scratch_dir dir;
  return dir;
}

std::string error_text(except_3* error) {
  std::string text = error->text.c_str();
  release_error(error);
  return text;
}

// The text a file_in holds after loading with the given flags, or the
// error's text.
struct load_outcome {
  std::string text;
  std::int32_t length = 0;
  std::string error;
};

load_outcome load_with(const std::string& path, std::int32_t flags) {
  load_outcome out;
  try {
    file_in in(char_range::of(path.c_str()), flags);
    out.length = in.content.text.length;
    out.text.assign(in.content.text.buffer, static_cast<std::size_t>(in.content.text.size()));
    FUZZ_CHECK(in.text == in.content.text.buffer && in.position == 0, "the cursor starts at the loaded text");
    FUZZ_CHECK(in.handle == nullptr, "the file is closed once loaded");
  } catch (except_3* error) {
    out.error = error_text(error);
  }
  return out;
}

void check_loading(const std::string& path, const std::string& bytes) {
  const std::int32_t read_all = file_in::open_now | file_in::load_all;
  const auto n = static_cast<std::int32_t>(bytes.size());

  load_outcome raw = load_with(path, read_all | file_in::keep_cr);
  FUZZ_CHECK(raw.error.empty(), "without comment removal nothing can fail: " + raw.error);
  FUZZ_CHECK(raw.length == n + 1, "the loaded text keeps the file's length");
  FUZZ_CHECK(raw.text == cleaned(bytes, true), "only NUL bytes change when CR is kept");

  load_outcome plain = load_with(path, read_all);
  FUZZ_CHECK(plain.error.empty() && plain.length == n + 1, "cleaning keeps the length");
  FUZZ_CHECK(plain.text == cleaned(bytes, false), "NUL and CR become spaces");

  std::optional<std::string> model = without_comments(cleaned(bytes, false));
  load_outcome stripped = load_with(path, read_all | file_in::strip_comments);
  if (!model) {
    FUZZ_CHECK(stripped.error == " Unclosed comment block", "an unclosed block comment is reported: " + stripped.error);
    return;
  }
  FUZZ_CHECK(stripped.error.empty(), "only an unclosed block comment is an error: " + stripped.error);
  FUZZ_CHECK(stripped.length == n + 1, "comment removal keeps the length");
  FUZZ_CHECK(stripped.text == *model, "comments are blanked as the rules say");
}

// buffer_bytes 0: read_numbers' own buffer; otherwise one that small, so
// that its ends fall inside tokens, pairs and comments.
void check_numbers(const std::string& path, const std::string& bytes, std::int32_t buffer_bytes) {
  std::optional<loaded_file> model = load_model(bytes);
  real_array values;
  const double kept = -0.5;
  values.append(kept);  // what is there already stays
  try {
    if (buffer_bytes == 0) {
      read_numbers(values, path.c_str());
    } else {
      read_numbers(values, path.c_str(), buffer_bytes);
    }
  } catch (except_3* error) {
    std::string text = error_text(error);
    FUZZ_CHECK(!model && text == " Unclosed comment block", "read_numbers raised " + text);
    return;
  }
  FUZZ_CHECK(model.has_value(), "an unclosed block comment must raise");
  const std::size_t tokens = tokens_of(model->text).size();
  FUZZ_CHECK(static_cast<std::size_t>(values.count) == 1 + (tokens + 1) / 2,
             "values are the tokens halved, rounded up: " + std::to_string(values.count - 1) + " for " +
                 std::to_string(tokens) + " tokens");
  FUZZ_CHECK(same_real(values[0], kept), "values already in the array stay");
  for (std::int32_t i = 1; i < values.count; ++i) {
    double expected = model->values[static_cast<std::size_t>(i - 1)];
    FUZZ_CHECK(same_real(values[i], expected), "value " + std::to_string(i - 1) + " is " + formatted(values[i]) +
                                                   ", the conversion gives " + formatted(expected));
  }
}

}  // namespace
}  // namespace lagscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lagscan::fuzz;
  const std::string path = scratch().file("data.xy");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  write_bytes(path, bytes);
  const file_stamp before = file_stamp::of(path);
  check_loading(path, bytes);
  check_numbers(path, bytes, 0);
  check_numbers(path, bytes, 1 + static_cast<std::int32_t>(size % 31));
  FUZZ_CHECK(file_stamp::of(path) == before, "the data file was changed");
  return 0;
}
