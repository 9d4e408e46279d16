// The one failure path of the whole system: print a message and end the process.
#pragma once

// Prints "Fatal error: " and `format` expanded with the remaining arguments (printf rules) to
// standard output, then ends the process with status -1. `exit` flushes every open stream, so the
// complete bytes already handed to an output stream reach its file; a bit file's pending partial
// byte does not. Never returns.
[[noreturn]] void FatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));
