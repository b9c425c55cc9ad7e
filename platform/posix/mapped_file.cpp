#include "platform/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

#include "platform/posix/native_path.h"
#include "platform/posix/removal_list.h"

namespace lagscan::platform {
namespace {

// The mappings that a lost page is looked up in. A slot is claimed (free to
// filling), filled, then marked in use with release order; the handler
// reads the mark with acquire order, so that it sees only whole slots, on
// whichever thread the fault comes. More mappings than slots still work;
// a lost page in one of them is reported without its file's name.
enum slot_state : int { slot_free, slot_filling, slot_in_use };
struct mapping_slot {
  const unsigned char* begin = nullptr;
  std::uint64_t size = 0;
  char path[PATH_MAX];
  std::atomic<int> state{slot_free};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots' marks");
mapping_slot mapping_slots[32];
std::atomic<int> unrecorded_mappings{0};  // live mappings that found no slot

// "<program>: " of the message, set before the handler is.
char message_prefix[256];

bool try_record_mapping(const unsigned char* begin, std::uint64_t size, const char* path) noexcept;

void record_mapping(const unsigned char* begin, std::uint64_t size, const char* path) noexcept {
  if (!try_record_mapping(begin, size, path)) unrecorded_mappings.fetch_add(1, std::memory_order_release);
}

bool try_record_mapping(const unsigned char* begin, std::uint64_t size, const char* path) noexcept {
  for (mapping_slot& slot : mapping_slots) {
    int free = slot_free;
    if (!slot.state.compare_exchange_strong(free, slot_filling, std::memory_order_acquire)) continue;
    slot.begin = begin;
    slot.size = size;
    std::strncpy(slot.path, path, sizeof slot.path - 1);
    slot.path[sizeof slot.path - 1] = '\0';
    slot.state.store(slot_in_use, std::memory_order_release);
    return true;
  }
  return false;
}

void forget_mapping(const unsigned char* begin) noexcept {
  for (mapping_slot& slot : mapping_slots) {
    if (slot.state.load(std::memory_order_acquire) == slot_in_use && slot.begin == begin) {
      slot.state.store(slot_free, std::memory_order_release);
      return;
    }
  }
  unrecorded_mappings.fetch_sub(1, std::memory_order_release);
}

void say(const char* text) noexcept {
  for (std::size_t left = std::strlen(text); left > 0;) {
    const ssize_t written = ::write(STDERR_FILENO, text, left);
    if (written <= 0) return;
    text += written;
    left -= static_cast<std::size_t>(written);
  }
}

// Only calls that a signal handler may make: write, unlink (through
// remove_recorded_files), _exit, signal and raise.
extern "C" void on_lost_page(int signal_number, siginfo_t* info, void*) {
  const auto* at = static_cast<const unsigned char*>(info->si_addr);
  const bool fault = info->si_code > 0;  // raised by the system, not sent by a program
  const char* path = nullptr;
  for (mapping_slot& slot : mapping_slots) {
    if (fault && slot.state.load(std::memory_order_acquire) == slot_in_use && at >= slot.begin &&
        static_cast<std::uint64_t>(at - slot.begin) < slot.size) {
      path = slot.path;
    }
  }
  if (path == nullptr && (!fault || unrecorded_mappings.load(std::memory_order_acquire) == 0)) {
    // Not a page of ours: the signal's own ending.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  say(message_prefix);
  say(path != nullptr ? path : "a mapped file");
  say(": cut short while it was being read (it changed during the run)\n");
  remove_recorded_files();
  ::_exit(1);
}

}  // namespace

bool mapped_file::open(const char* path) {
  close();
  char native[PATH_MAX];
  if (!native_path(path, native)) return false;
  const int fd = ::open(native, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok && st.st_size > 0) {
    void* at = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ok = at != MAP_FAILED;
    if (ok) {
      data_ = static_cast<const unsigned char*>(at);
      size_ = static_cast<std::uint64_t>(st.st_size);
      record_mapping(data_, size_, path);
    }
  }
  ::close(fd);  // the mapping keeps the file
  return ok;
}

void mapped_file::close() noexcept {
  if (data_ != nullptr) {
    forget_mapping(data_);
    ::munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
  }
  data_ = nullptr;
  size_ = 0;
}

void end_on_lost_pages(const char* program) noexcept {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  std::strncpy(message_prefix, program, sizeof message_prefix - 3);
  message_prefix[sizeof message_prefix - 3] = '\0';
  std::strcat(message_prefix, ": ");
  struct sigaction action{};
  action.sa_sigaction = on_lost_page;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace lagscan::platform
