// Signals on Linux: one handler for every signal that would end the program. It runs on the
// thread of the run (another thread that receives the signal hands it over), removes the new
// copy or undoes the patch in place with calls that are safe in a handler, and then lets the
// signal end the program as it would have.
#include "engine/platform/interrupt_cleanup_linux.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "engine/platform/file_attributes_linux.h"
#include "engine/platform/interrupt_cleanup.h"

namespace ombrix {
namespace {

// What a run leaves to be cleaned up; each part is read by the handler only while armed.
struct Copy {
  int folder = -1;
  char name[NAME_MAX + 1] = {};
  dev_t device = 0;
  ino_t inode = 0;
};
struct Undo {
  static constexpr std::size_t kMaxRanges = 4;
  static constexpr std::size_t kMaxBytes = 256;
  int file = -1;
  std::size_t count = 0;
  struct Range {
    off_t offset;
    std::size_t size;
    char bytes[kMaxBytes];
  } ranges[kMaxRanges] = {};
  // What the writes may clear: the mode with its set-ID bits, the file capabilities.
  bool has_mode = false;
  mode_t mode = 0;
  std::size_t capability_size = 0;  // 0: none
  char capability[kMaxBytes] = {};
};

Copy copy;
Undo undo;
std::atomic<bool> copy_armed{false};
std::atomic<bool> undo_armed{false};
// The thread that registered them: the one whose steps the handler must not race.
std::atomic<pid_t> run_thread{0};

// Said where the old bytes could not all be put back; the program's own words.
std::atomic<const char*> not_undone_text{nullptr};
std::atomic<std::size_t> not_undone_size{0};

bool WriteAll(int fd, const char* bytes, std::size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t written = ::pwrite(fd, bytes, size, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
    offset += written;
  }
  return true;
}

// Only calls that are safe in a signal handler.
void CleanUp() {
  if (undo_armed.load(std::memory_order_acquire)) {
    bool undone = true;
    for (std::size_t i = 0; i < undo.count; ++i) {
      const Undo::Range& range = undo.ranges[i];
      undone = WriteAll(undo.file, range.bytes, range.size, range.offset) && undone;
    }
    // Given back only where a write cleared them: a user who may write the file but does not
    // own it may not set its mode, and need not.
    struct stat st;
    if (undo.has_mode && ::fstat(undo.file, &st) == 0 && (st.st_mode & 07777) != undo.mode) {
      undone = ::fchmod(undo.file, undo.mode) == 0 && undone;
    }
    if (undo.capability_size > 0) {
      char now[Undo::kMaxBytes];
      const ssize_t size = ::fgetxattr(undo.file, kCapabilityAttribute.data(), now, sizeof(now));
      if (size != static_cast<ssize_t>(undo.capability_size) ||
          std::memcmp(now, undo.capability, undo.capability_size) != 0) {
        undone = ::fsetxattr(undo.file, kCapabilityAttribute.data(), undo.capability,
                             undo.capability_size, 0) == 0 &&
                 undone;
      }
    }
    undone = ::fsync(undo.file) == 0 && undone;
    const char* text = not_undone_text.load(std::memory_order_acquire);
    if (!undone && text != nullptr) {
      (void)!::write(STDERR_FILENO, text, not_undone_size.load(std::memory_order_acquire));
    }
  }
  if (copy_armed.load(std::memory_order_acquire)) {
    // Only the copy itself: not whatever another program may have put under its name.
    struct stat st;
    if (::fstatat(copy.folder, copy.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == copy.device && st.st_ino == copy.inode) {
      ::unlinkat(copy.folder, copy.name, 0);
    }
  }
}

bool IsFault(int signal, const siginfo_t* info) {
  // Raised by the processor for this thread's own instruction, not sent by anyone.
  return info != nullptr && info->si_code > 0 &&
         (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE ||
          signal == SIGTRAP || signal == SIGSYS);
}

void OnSignal(int signal, siginfo_t* info, void* /*context*/) {
  const int saved = errno;
  const bool fault = IsFault(signal, info);
  const pid_t runner = run_thread.load(std::memory_order_acquire);
  // Cleaning up from another thread would race the run's own next step: the run's thread does
  // it (where that thread is gone, this one).
  if (!fault && runner != 0 && runner != ::gettid() &&
      ::syscall(SYS_tgkill, ::getpid(), runner, signal) == 0) {
    errno = saved;
    return;
  }
  CleanUp();
  // The signal's default action: for a fault, once this handler returns and the instruction
  // runs again; for any other signal, once it is unblocked as this handler returns.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  if (!fault) ::raise(signal);
  errno = saved;
}

// Every signal whose default action ends the program, and that a program may catch.
template <typename Visit>
void ForEachEndingSignal(Visit visit) {
  for (const int signal :
       {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,
        SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
        SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS}) {
    visit(signal);
  }
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) visit(signal);
}

}  // namespace

void CleanUpOnInterrupt(std::string_view not_undone) {
  not_undone_size.store(not_undone.size(), std::memory_order_release);
  not_undone_text.store(not_undone.data(), std::memory_order_release);
  run_thread.store(::gettid(), std::memory_order_release);
  ForEachEndingSignal([](int signal) {
    // Only where the signal would end the program: one it was started to ignore stays ignored,
    // and one that has a handler (a profiler's, a sanitizer's) keeps it.
    struct sigaction now {};
    if (::sigaction(signal, nullptr, &now) != 0 || (now.sa_flags & SA_SIGINFO) != 0 ||
        now.sa_handler != SIG_DFL) {
      return;
    }
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  });
}

void RegisterCopy(const File& folder, const std::filesystem::path& name, const File& file) {
  struct stat st;
  const std::string& text = name.native();
  if (text.size() >= sizeof(copy.name) || ::fstat(static_cast<int>(file.native()), &st) != 0) {
    return;  // no such copy can be made; nothing to remove
  }
  copy_armed.store(false, std::memory_order_release);
  copy.folder = static_cast<int>(folder.native());
  std::memcpy(copy.name, text.c_str(), text.size() + 1);
  copy.device = st.st_dev;
  copy.inode = st.st_ino;
  run_thread.store(::gettid(), std::memory_order_release);
  copy_armed.store(true, std::memory_order_release);
}

void ForgetCopy() { copy_armed.store(false, std::memory_order_release); }

InPlaceUndo::InPlaceUndo(const File& file, std::span<const SavedBytes> saved,
                         const Identity& identity) {
  if (saved.size() > Undo::kMaxRanges) return;
  for (const SavedBytes& range : saved) {
    if (range.bytes.size() > Undo::kMaxBytes) return;
  }
  undo_armed.store(false, std::memory_order_release);
  undo.has_mode = false;
  undo.capability_size = 0;
  for (const FileAttribute& attribute : identity) {
    if (attribute.name == kModeAttribute && attribute.value.size() == sizeof(undo.mode)) {
      std::memcpy(&undo.mode, attribute.value.data(), sizeof(undo.mode));
      undo.has_mode = true;
    } else if (attribute.name == kCapabilityAttribute &&
               attribute.value.size() <= sizeof(undo.capability)) {
      std::memcpy(undo.capability, attribute.value.data(), attribute.value.size());
      undo.capability_size = attribute.value.size();
    }
  }
  undo.file = static_cast<int>(file.native());
  undo.count = saved.size();
  for (std::size_t i = 0; i < saved.size(); ++i) {
    undo.ranges[i].offset = static_cast<off_t>(saved[i].offset);
    undo.ranges[i].size = saved[i].bytes.size();
    std::memcpy(undo.ranges[i].bytes, saved[i].bytes.data(), saved[i].bytes.size());
  }
  run_thread.store(::gettid(), std::memory_order_release);
  undo_armed.store(true, std::memory_order_release);
}

InPlaceUndo::~InPlaceUndo() { undo_armed.store(false, std::memory_order_release); }

}  // namespace ombrix
