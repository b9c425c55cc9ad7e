// File-system services for the portable code. Nothing outside platform/
// calls the C runtime's file system functions directly.
//
// Contract, the same on every system:
//  - A path may use "\" as a directory separator. On POSIX systems it is read
//    as "/" in a private copy, so the caller's text is never changed; Windows
//    takes both separators itself.
//  - A read-only file cannot be opened for update or writing, for an
//    administrator or root as well. On Windows that is the read-only
//    attribute; on POSIX systems, permission bits that grant nobody write
//    access (the open then fails with EACCES).
//  - An open for reading only never waits: a named pipe that no program
//    writes reads as empty (POSIX).
//  - Paths longer than the system allows fail as "cannot open".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace lagscan::platform {

// fopen with the separator and read-only rules above; null on failure.
std::FILE* open_file(const char* path, const char* mode);

// For tests: from now on open_file(path, ...) opens replacement instead, so
// that files with fixed names (the heap log) can be sent somewhere harmless.
// Compared as given, before separators are mapped; one redirection at a
// time, set before the file is opened; a null replacement ends it. Both
// texts must outlive the redirection.
void redirect_for_tests(const char* path, const char* replacement) noexcept;

// Moves file's position to offset bytes from its start, 64-bit offsets
// included; false when it cannot.
bool seek_file(std::FILE* file, std::uint64_t offset);

// Size in bytes of the file at path, or -1 when it cannot be queried.
std::int64_t file_size(const char* path);

// The current directory into buffer (size bytes, terminated); false when it
// cannot be read or does not fit.
bool current_directory(char* buffer, int size);

// Makes a write to a pipe whose reader has gone fail like any other failed
// write (EPIPE) instead of ending the process by a signal, so that the
// program still ends normally with its own status. Nothing to do on Windows,
// where such a write only fails.
void fail_writes_to_closed_pipes() noexcept;

// Creates path for writing (a text stream, as fopen's "w", or a binary one,
// as "wb"), only if nothing is there yet; null when something is, or it
// cannot be made. Two programs that pick the same name can never both get
// it.
std::FILE* create_new_file(const char* path, bool binary = false);

// Renames from to to (both in one folder), replacing a file already there:
// on POSIX systems in one step, so that a reader sees the old file or the
// new one, never neither. A read-only target is not replaced. False when it
// cannot; then both stay as they were.
bool replace_file(const char* from, const char* to);

// Deletes the file at path; false when it cannot.
bool remove_file(const char* path);

// Until forget_on_signal(path), a signal that ends the process (POSIX:
// SIGINT, SIGTERM, SIGHUP) removes the file at path first, and the process
// then ends as the signal would have ended it: a run stopped by Ctrl-C
// leaves no half-written temporary file. At most eight paths at a time
// (false when full). Windows ends a console program at Ctrl-C without a way to
// remove a file it holds open: there these do nothing.
bool remove_on_signal(const char* path);
void forget_on_signal(const char* path);

// create_new_file and remove_on_signal in one step: the signals that end the
// process wait while the file is made and recorded, so that none can come
// between the two and leave the file behind. Null when the file cannot be
// made or recorded (then there is none).
std::FILE* create_temporary_file(const char* path, bool binary = false);

// Where path leads when it is a symbolic link (followed link by link, a
// relative one from its own folder), whether or not a file is there; else
// path itself. Windows: path itself.
std::string link_target(const char* path);

// Whether path names a device or a pipe (/dev/null, NUL, a named pipe)
// rather than a plain file or a folder.
bool is_device_or_pipe(const char* path);

// What makes a file itself, whatever path reaches it (links, "..", another
// spelling): POSIX: device and inode; Windows: volume serial number and
// file index.
struct file_id {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const file_id&) const = default;
};

// The identity of the file (or folder) at path; false when there is none.
bool identify_file(const char* path, file_id& id);

// Whether a and b read as one path once made absolute, "." and ".."
// resolved (POSIX: and the links of the part that exists followed;
// Windows: ignoring case): for paths where no file is yet.
bool same_path(const char* a, const char* b);

}  // namespace lagscan::platform
