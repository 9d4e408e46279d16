// The usage line of the programs.
#pragma once

// Returns the program's short name for the usage line: the part of `programPath` after its last
// backslash (or, only if there is none, its last slash; or, only if neither, its last colon), cut
// at its last full stop. The cut is made in place, in `programPath`'s own storage. A null path (a
// start with no program path at all) gives `fallback`.
const char* ShortProgramName(char* programPath, const char* fallback);

// Prints "\nUsage: <short name> <argumentNames> \n" and ends the process with status 0.
[[noreturn]] void PrintUsageAndExit(char* programPath, const char* fallback,
                                    const char* argumentNames);
