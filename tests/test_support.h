// Helpers shared by the tests: scratch files, streams built bit by bit, and running the programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A fresh scratch folder for the running process, removed at exit; `name` is joined to it.
std::string ScratchPath(const std::string& name);

// ScratchPath for a file about to be written: whatever is there is removed first. Rewriting a file
// by truncating it makes ext4 push its data to the disk at close (its guard for programs that
// replace files that way), which costs milliseconds per file; a new file costs microseconds.
std::string FreshScratchPath(const std::string& name);

// Writes `bytes` as a new file at `path` (removing what was there, see FreshScratchPath).
void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// A stream assembled bit by bit, most significant bit of each byte first, the last byte filled
// with zero bits.
struct BitStream {
  Bytes bytes;
  int usedBits = 0;  // bits used in the last byte, 0 when it is complete (or there is none)
};

// Appends the low `count` bits of `value` (count 0..32), most significant first.
void PutBits(BitStream* stream, std::uint32_t value, int count);
// Appends `ones` one-bits and a zero-bit: a unary quotient.
void PutUnary(BitStream* stream, std::uint32_t ones);

// The bytes of a stream that `fields` assembles with PutBits and PutUnary.
Bytes BuildStream(const std::function<void(BitStream*)>& fields);

// Expands `stream` with ExpandFile through scratch files and returns the expanded bytes; a read
// error on the way fails the calling test.
Bytes ExpandBytes(const Bytes& stream);

// A small file of the round-trip tables.
struct SampleFile {
  std::string name;
  Bytes bytes;
};

// The files every round trip goes through: empty, one byte, all zeros, all ones, alternating bits,
// random bytes, and a few KB of mixed runs (short ones, a few hundred bits, and some over 4096
// bits). Built the same way on every run.
const std::vector<SampleFile>& SampleFiles();

// What a run of a program showed: its exit status (or 128 + signal), standard output and error.
struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  // When set, the file size limit (bytes) of the child, with SIGXFSZ ignored so that a write past
  // it fails with EFBIG instead of killing the process.
  long long fileSizeLimit = -1;
  // When true, argv is passed exactly as given (argv[0] included); otherwise argv[0] is `program`.
  bool rawArgv = false;
  // Descriptors of 0, 1 and 2 that the child closes just before it runs the program. What the
  // program writes to a closed 1 or 2 does not reach `out` or `err`.
  std::vector<int> closedDescriptors = {};
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const RunOptions& options = {});

// Runs `program` with an input holding `bytes` and, as the output, that same file under four names
// (itself, a hard link, a symbolic link, another spelling of its path). Each run must end with
// status 255 and the same-file message, and leave the input as it was. `stem` names the scratch
// files, so that callers do not share them.
void ExpectSameFileRefusedAndKept(const std::string& program, const std::string& stem,
                                  const Bytes& bytes);

// What a successful run of a program must do, whatever standard descriptors it starts without.
struct SuccessfulRun {
  std::string program;
  std::vector<std::string> arguments;
  std::string output;   // the file the run writes
  std::string console;  // all it prints on standard output
  Bytes expected;       // the bytes `output` must hold
};

// Runs `run` eight times, from a fresh output each time: with descriptors 0, 1 and 2 all open, and
// with each combination of them closed. Each run must end with status 0, print nothing on standard
// error and `console` on standard output (nothing when 1 is closed), and leave exactly `expected`
// in the output: the console text never lands inside it.
void ExpectClosedStandardDescriptorsChangeNothing(const SuccessfulRun& run);
