#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "engine/copy_cleanup.h"

namespace ombrix {
namespace {

// The copy to remove, read by the signal handler only while `armed` is set.
char registered[PATH_MAX];
volatile std::sig_atomic_t armed = 0;

void OnInterrupt(int signal) {
  if (armed) ::unlink(registered);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void RemoveCopiesOnInterrupt() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    if (::sigaction(signal, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

CopyCleanup::CopyCleanup(const std::filesystem::path& copy) {
  const std::string& name = copy.native();
  if (name.size() >= sizeof(registered)) return;  // no such file can exist
  std::memcpy(registered, name.c_str(), name.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  armed = 1;
}

CopyCleanup::~CopyCleanup() {
  armed = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace ombrix
