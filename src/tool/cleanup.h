// Removal of the temporary output file when a signal ends the process. This is the program's one
// piece of global mutable state: a signal handler can reach nothing else.
#pragma once

#include <signal.h>

// Installs the handler for every signal sent to end a process whose default action does so
// (SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
// SIGPOLL, SIGPWR, SIGSTKFLT and the real-time signals, where defined), each left alone when it is
// ignored at start, as under nohup: it removes the registered temporary file, if any, and lets the
// signal end the process as it would have. SIGXFSZ is ignored, so that a write past the file size
// limit fails with EFBIG and is reported like any refused write.
void InstallCleanupHandlers();

// Holds the handled signals back for its lifetime, so that a file created under it is registered
// before a signal can end the process.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Registers `path`, a temporary file just created, for removal by the handler; false (nothing
// registered) when the path does not fit the handler's buffer. Call it with the signals held.
bool RegisterTemporaryFile(const char* path);
// Forgets the registered file: call it once the file has been renamed or removed.
void ForgetTemporaryFile();
