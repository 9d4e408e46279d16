// Helpers shared by the tests: scratch files, streams built bit by bit, and running the programs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "compress/compress.h"  // CompressResult, BitFile

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
// Appends a run of `length` bits of `value` (0 or 1), whole bytes at a time where it can.
void PutRun(BitStream* stream, std::uint32_t value, std::uint64_t length);

// A small deterministic generator (xorshift64), the same on every host.
std::uint64_t NextRandom(std::uint64_t* state);

// The bytes of a stream that `fields` assembles with PutBits and PutUnary.
Bytes BuildStream(const std::function<void(BitStream*)>& fields);

// Expands `stream` with ExpandFile through scratch files and returns the expanded bytes; a read
// error on the way fails the calling test.
Bytes ExpandBytes(const Bytes& stream);

// The programs' bit-at-a-time paths, the references of the library's tests, through scratch files
// (a read error on the way fails the calling test):
// ExpandFileSimple's expansion of `stream`;
Bytes ExpandBytesSimple(const Bytes& stream);
// CompressFileSimple's stream of `bytes` at header value k (0..255);
Bytes CompressBytesSimple(const Bytes& bytes, int k);
// The stream that `compress` (CompressFile, CompressFileSimple, ...) writes of `bytes` at k, with
// what it reported (whose output size must be the stream's) in `result` when that is not null.
using CompressPath = CompressResult (*)(BitFile* input, BitFile* output, int k);
Bytes CompressBytesBy(CompressPath compress, const Bytes& bytes, int k,
                      CompressResult* result = nullptr);
// MeasureStreamsSimple's counts: the stream's size in bits at each of the 64 classes of k
// (k >= 64 is the class 32 + (k AND 31)), before the zero fill;
std::vector<std::uint64_t> StreamBitsSimple(const Bytes& bytes);
// and the k the compressor chooses from them (ChooseExponent).
int ChosenKSimple(const Bytes& bytes);

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
  // When set, the child's standard input is a pipe that receives these bytes and is then closed
  // (after `whileRunning`, if that is set too); otherwise it reads /dev/null.
  std::optional<Bytes> stdinBytes = std::nullopt;
  // When set, called on a thread of its own while the child runs, with the child's pid and the
  // write end of its standard input pipe, which is closed once the call returns. The child's
  // output is collected meanwhile, so the call may wait for the child to get somewhere.
  std::function<void(pid_t child, int stdinPipe)> whileRunning = nullptr;
  // Each standard stream set here is a pseudo-terminal in raw mode (no line editing, no "\r\n"
  // for "\n"), so that the child's isatty() is true; what it writes there is collected as from a
  // pipe. A terminal on standard input gives no input.
  bool terminalStdin = false;
  bool terminalStdout = false;
  bool terminalStderr = false;
  // When not empty, the folder the child runs in.
  std::string workingDirectory = "";
  // False: the child never runs under valgrind, for reference runs of programs that other tests
  // check under it already.
  bool underValgrindIfAsked = true;
  // Descriptors of 0, 1 and 2 that the child closes just before it runs the program. What the
  // program writes to a closed 1 or 2 does not reach `out` or `err`.
  std::vector<int> closedDescriptors = {};
  // When true, the child may run on one processor only (the first of its affinity mask), so that
  // a program using one thread per processor available uses one.
  bool oneProcessor = false;
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
