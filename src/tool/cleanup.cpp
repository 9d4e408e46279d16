// The signal handler only calls unlink and raise, both async-signal-safe. The name is written
// while `gRegistered` is 0 and published by setting it, so the handler never reads a half-written
// name; it is forgotten only after the rename, so a signal in between unlinks a name that is gone,
// which is harmless, rather than leaving the file behind.
#include "tool/cleanup.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace {

volatile sig_atomic_t gRegistered = 0;
char gTemporaryPath[PATH_MAX];

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void RemoveTemporaryFileAndDie(int signalNumber) {
  if (gRegistered != 0) {
    unlink(gTemporaryPath);
  }
  // SA_RESETHAND has restored the default action; the signal, held while this handler runs, is
  // delivered again as soon as it returns, and ends the process with the usual status.
  raise(signalNumber);
}

sigset_t HandledSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signalNumber : kHandledSignals) {
    sigaddset(&set, signalNumber);
  }
  return set;
}

}  // namespace

void InstallCleanupHandlers() {
  for (const int signalNumber : kHandledSignals) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryFileAndDie;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    action.sa_mask = HandledSet();
    sigaction(signalNumber, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, nullptr);
}

SignalsHeld::SignalsHeld() {
  const sigset_t set = HandledSet();
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

bool RegisterTemporaryFile(const char* path) {
  const std::size_t length = std::strlen(path);
  if (length >= sizeof gTemporaryPath) {
    return false;
  }
  gRegistered = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(gTemporaryPath, path, length + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gRegistered = 1;
  return true;
}

void ForgetTemporaryFile() {
  gRegistered = 0;
}
