// File-system services for the portable code. Nothing outside platform/
// calls the C runtime's file system functions directly.
//
// Contract:
//  - A path may use "\" as a directory separator; it is read as "/" here, in a
//    private copy, so the caller's text is never changed.
//  - A file whose permission bits grant nobody write access is read-only: an
//    open for update or writing fails with EACCES, for root as well.
//  - Paths longer than the system's PATH_MAX fail as "cannot open".
#pragma once

#include <cstdint>
#include <cstdio>

namespace lagscan::platform {

// fopen with the separator and read-only rules above; null on failure.
std::FILE* open_file(const char* path, const char* mode);

// For tests: from now on open_file(path, ...) opens replacement instead, so
// that files with fixed names (the heap log) can be sent somewhere harmless.
// Compared as given, before separators are mapped; one redirection at a
// time, set before the file is opened; a null replacement ends it. Both
// texts must outlive the redirection.
void redirect_for_tests(const char* path, const char* replacement) noexcept;

// Size in bytes of the file at path, or -1 when it cannot be queried.
std::int64_t file_size(const char* path);

// The current directory into buffer (size bytes, terminated); false when it
// cannot be read or does not fit.
bool current_directory(char* buffer, int size);

}  // namespace lagscan::platform
