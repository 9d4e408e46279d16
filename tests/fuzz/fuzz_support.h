// What the fuzz targets share: scratch files that cost little to rewrite, and the way a target
// reports a failed check.
#pragma once

#include <string>

// A scratch file for one target, reached by its path. In memory (a memfd, named by its /proc path)
// where the host offers it: on a disk-backed temp folder, creating and truncating files costs
// most of the time of a run. Otherwise a file in the test scratch folder.
std::string FuzzScratchPath(const char* name);

// Prints "<who>: <what>" and stops at once, as the fuzzer expects of a finding.
[[noreturn]] void Fail(const char* who, const char* what);
