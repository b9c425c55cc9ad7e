// The one failure the containers report themselves: a text or array asked to
// pass the limits of its signed 32-bit fields. It is memory/'s own type, not
// an error object of streams/, because those are built on text_buffer and
// this layer depends on nothing above it. The command prints it as it prints
// an error object: a blank, then the message.
#pragma once

namespace lagscan {

class size_limit_error {
 public:
  explicit constexpr size_limit_error(const char* message) noexcept : message_(message) {}
  // "Text too large" or "Array too large"; static text, never freed.
  constexpr const char* message() const noexcept { return message_; }

 private:
  const char* message_;
};

[[noreturn]] void raise_text_too_large();
[[noreturn]] void raise_array_too_large();

}  // namespace lagscan
