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

// The signals sent to end a process, whose default action does so: gzip's list and the rest of
// its kind. SIGXFSZ is not among them: it is ignored, so that a write past the file size limit
// fails and is reported (see InstallCleanupHandlers). The signals of a fault (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT, ...) and SIGQUIT are left alone: they come with a core dump to look at.
constexpr int kNamedSignals[] = {
    SIGHUP,    SIGINT, SIGPIPE, SIGTERM, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
#if defined(SIGPOLL)
    SIGPOLL,
#elif defined(SIGIO)
    SIGIO,
#endif
#if defined(SIGPWR)
    SIGPWR,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
};

// Calls `use` for every handled signal: the named ones, then the real-time ones (their default
// action ends the process too).
template <typename Use>
void ForEachHandledSignal(Use use) {
  for (const int signalNumber : kNamedSignals) {
    use(signalNumber);
  }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
    use(signalNumber);
  }
#endif
}

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
  ForEachHandledSignal([&set](int signalNumber) { sigaddset(&set, signalNumber); });
  return set;
}

}  // namespace

void InstallCleanupHandlers() {
  const sigset_t handled = HandledSet();
  ForEachHandledSignal([&handled](int signalNumber) {
    // A signal ignored on entry (as nohup ignores SIGHUP) stays ignored; one that cannot be asked
    // about is left alone.
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
      return;
    }
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryFileAndDie;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    action.sa_mask = handled;
    sigaction(signalNumber, &action, nullptr);
  });
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
