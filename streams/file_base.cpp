#include "streams/file_base.h"

#include "platform/files.h"
#include "streams/except_3.h"
#include "streams/out_stream.h"
#include "streams/paths.h"

namespace lagscan {

file_base::~file_base() { file_base::close(); }

int file_base::open(char_range path, std::int32_t open_flags) {
  set_path(path);
  return open(open_flags);
}

int file_base::open(std::int32_t open_flags) {
  unify_separators(file_path);
  handle = platform::open_file(file_path.c_str(), mode.c_str());
  if (handle != nullptr) return 1;
  if ((open_flags & raise_on_fail) != 0) raise_error("Cannot open file", file_path);
  if ((open_flags & report_on_fail) != 0) {
    out_stream& out = current_out();
    out.write_cstr("Cannot open file ");
    out.write_text(file_path);
    out.write_char('\n');
  }
  return 0;
}

void file_base::close() {
  if (handle != nullptr && (flags & borrowed) == 0) {
    std::fclose(handle);
    handle = nullptr;
  }
}

void file_base::set_path(char_range path) {
  file_path.assign(path);
  strip_quotes(file_path);
  if (file_path.size() == 0) {
    current_directory(file_directory);
  } else if (file_path.buffer[0] == '\\' || (file_path.size() > 1 && file_path.buffer[1] == ':')) {
    directory_part(file_path, file_directory);
    ensure_separator(file_directory);
  } else {
    current_directory(file_directory);
    text_buffer relative;
    directory_part(file_path, relative);
    file_directory.append(relative.range());
  }
}

void file_base::default_mode() {
  if (mode.size() == 0) mode.assign(char_range::of("r"));
}

}  // namespace lagscan
