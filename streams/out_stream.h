// The output interface. Every typed write reduces to one primitive,
// write_cstr; a stream that writes somewhere supplies that (and may supply
// write_char). current_out() answers the stream every writer uses.
#pragma once

#include <cstdint>
#include <cstdio>

#include "memory/arrays.h"
#include "memory/text_buffer.h"
#include "streams/file_base.h"

namespace lagscan {

class out_stream {
 public:
  virtual ~out_stream() = default;

  virtual void reopen() {}
  virtual const char* path() const { return ""; }
  virtual const char* directory() const { return ""; }
  virtual void write_size(std::uint64_t value);
  virtual void write_int(std::int32_t value);
  virtual void write_float(float value);
  virtual void write_double(double value);
  virtual void write_range(char_range range);
  virtual void write_text(const text_buffer& text);
  virtual void write_char(char c);
  virtual void write_cstr(const char* text);

  out_stream& put_text(const text_buffer& text) {
    write_text(text);
    return *this;
  }

 protected:
  out_stream() = default;
  out_stream(const out_stream&) = default;
  out_stream& operator=(const out_stream&) = default;
};

// A C runtime stream seen through the output interface.
class file_out : public file_base, public out_stream {
 public:
  file_out() = default;
  // Wraps handle; a borrowed handle is never closed by this object.
  file_out(std::FILE* handle, bool borrowed);

  void reopen() override;
  const char* path() const override { return file_base::path(); }
  const char* directory() const override { return file_base::directory(); }
  void write_char(char c) override;
  void write_cstr(const char* text) override;
};

// Streams pushed over the console; nothing pushes one yet.
using out_stream_stack = growable_array<out_stream*>;
out_stream_stack& output_stack();
// Exit work: frees the stack's storage.
void release_output_stack() noexcept;

// The top of output_stack, or console_out over standard output.
out_stream& current_out();

}  // namespace lagscan
