// Guards the programs' use of every processor as real runs: each run on one thread and on several
// gives the same exit status, console text and files, byte for byte, on inputs of several MiB
// (where the programs switch to their threaded blocks), through pipes, with -t and -l, and when
// the disk refuses a write. The fixed programs take the processors they may run on, so their
// one-thread runs are on one processor; rlegolomb's are -T1 against -T2 and -T0. Each one-thread
// result is also checked against the library, so that two equal wrong runs cannot pass.
// And rlegolomb's -T: the spellings it takes and the ones it refuses.
#include <gtest/gtest.h>
#include <rlegolomb.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kTool = TOOL_PROGRAM;
const std::string kCompress = COMPRESS_PROGRAM;
const std::string kExpand = EXPAND_PROGRAM;

constexpr std::size_t kMiB = std::size_t{1} << 20;

using Files = std::map<std::string, Bytes>;

// Alternating runs whose lengths are geometric with the given mean: each bit flips with
// probability 1 / mean. `size` bytes.
Bytes Runs(std::uint32_t seed, std::size_t size, std::uint32_t mean) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  unsigned bit = 0;
  for (std::uint8_t& byte : bytes) {
    for (int i = 0; i < 8; ++i) {
      bit ^= random() % mean == 0 ? 1u : 0u;
      byte = static_cast<std::uint8_t>(static_cast<unsigned>(byte) << 1 | bit);
    }
  }
  return bytes;
}

Bytes Noise(std::uint32_t seed, std::size_t size) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

Bytes LibraryCompress(const Bytes& data, int k) {
  Bytes stream(rlegolomb_compress_bound(data.size(), k));
  std::size_t size = 0;
  EXPECT_EQ(rlegolomb_compress(data.data(), data.size(), k, stream.data(), stream.size(), &size),
            RLEGOLOMB_DONE);
  stream.resize(size);
  return stream;
}

Bytes LibraryExpand(const Bytes& stream) {
  const std::uint64_t bits = rlegolomb_expanded_bits(stream.data(), stream.size());
  Bytes out(static_cast<std::size_t>((bits + 7) / 8));
  std::size_t size = 0;
  EXPECT_EQ(rlegolomb_expand(stream.data(), stream.size(), out.data(), out.size(), &size),
            RLEGOLOMB_DONE);
  out.resize(size);
  return out;
}

// The inputs: several MiB each, past the size under which the programs stay on one thread, and
// past one threaded block (4 MiB) where that matters: short runs (about 8 bits; one more byte than
// whole MiB), runs of about 40 bits, noise, and random bytes read as a stream at k = 4.
struct Inputs {
  Bytes shortRuns = Runs(1, 5 * kMiB + 1, 8);
  Bytes mediumRuns = Runs(2, 3 * kMiB, 40);
  Bytes noise = Noise(3, 2 * kMiB);
  Bytes shortRunsStream = LibraryCompress(shortRuns, -1);
  Bytes mediumRunsStream = LibraryCompress(mediumRuns, -1);
  Bytes randomStream = [] {
    Bytes stream = Noise(4, 2 * kMiB + 5);
    stream[0] = 4;
    return stream;
  }();
};

const Inputs& Data() {
  static const Inputs inputs;
  return inputs;
}

Files FolderContents(const std::string& folder) {
  Files files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  }
  return files;
}

std::string MakeFolder(const std::string& name, const Files& files) {
  const std::string folder = ScratchPath(name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const auto& [file, bytes] : files) {
    WriteFileBytes(folder + "/" + file, bytes);
  }
  return folder;
}

// What a run showed and left in its folder.
struct Seen {
  ProgramResult result;
  Files files;
};

// One run of `program` in a fresh folder holding `files`, with `arguments` (a "{}" in one stands
// for the folder) and `options`.
Seen RunIn(const std::string& program, const Files& files, std::vector<std::string> arguments,
           RunOptions options) {
  const std::string folder = MakeFolder("threads-run", files);
  for (std::string& argument : arguments) {
    if (argument.starts_with("{}")) {
      argument = folder + argument.substr(2);
    }
  }
  options.workingDirectory = folder;
  Seen seen;
  seen.result = RunProgram(program, arguments, options);
  seen.files = FolderContents(folder);
  return seen;
}

void ExpectSame(const Seen& one, const Seen& many, const std::string& label) {
  EXPECT_EQ(many.result.status, one.result.status) << label;
  EXPECT_EQ(many.result.out, one.result.out) << label;
  EXPECT_EQ(many.result.err, one.result.err) << label;
  EXPECT_TRUE(many.files == one.files) << label << ": the files differ";
}

// A fixed program's run: on one processor, then on all of them, the same; the one-processor run
// gave `status` and left `file` with `expected` (or, for a refused write, its first `prefix`
// bytes).
struct FixedCase {
  std::string label;
  std::string program;
  Files files;
  std::vector<std::string> arguments;
  int status;
  std::string file;
  Bytes expected;
  long long limit = -1;  // a file size limit: the write that passes it is refused
  std::optional<Bytes> stdinBytes = std::nullopt;
};

void RunFixedCase(const FixedCase& c) {
  RunOptions options{.fileSizeLimit = c.limit, .stdinBytes = c.stdinBytes};
  options.oneProcessor = true;
  const Seen one = RunIn(c.program, c.files, c.arguments, options);
  options.oneProcessor = false;
  const Seen all = RunIn(c.program, c.files, c.arguments, options);
  EXPECT_EQ(one.result.status, c.status) << c.label << ": " << one.result.out << one.result.err;
  const Bytes& written = one.files.count(c.file) != 0 ? one.files.at(c.file) : Bytes{};
  if (c.limit < 0) {
    EXPECT_TRUE(written == c.expected)
        << c.label << ": " << written.size() << " bytes against " << c.expected.size();
  } else {
    ASSERT_EQ(written.size(), static_cast<std::size_t>(c.limit)) << c.label;
    EXPECT_TRUE(std::equal(written.begin(), written.end(), c.expected.begin())) << c.label;
  }
  ExpectSame(one, all, c.label);
}

std::string Announcement(const std::string& verb, const std::string& in, const std::string& out) {
  return "\n" + verb + " " + in + " to " + out + "\nUsing RLE_Golomb\n";
}

TEST(ThreadsCliTest, TheFixedProgramsGiveTheSameRunsOnEveryProcessor) {
  const Inputs& d = Data();
  const std::string expanding = Announcement("Expanding", "in", "out");
  const std::string compressing = Announcement("Compressing", "in", "out");
  const Bytes noiseAtK1 = LibraryCompress(d.noise, 1);
  const std::vector<FixedCase> cases = {
      {"expand short runs",
       kExpand,
       {{"in", d.shortRunsStream}},
       {"in", "out"},
       0,
       "out",
       d.shortRuns},
      {"expand medium runs",
       kExpand,
       {{"in", d.mediumRunsStream}},
       {"in", "out"},
       0,
       "out",
       d.mediumRuns},
      {"expand random bytes at k = 4",
       kExpand,
       {{"in", d.randomStream}},
       {"in", "out"},
       0,
       "out",
       LibraryExpand(d.randomStream)},
      {"expand a pipe",
       kExpand,
       {},
       {"/dev/stdin", "out"},
       0,
       "out",
       d.shortRuns,
       -1,
       d.shortRunsStream},
      {"compress short runs, k chosen",
       kCompress,
       {{"in", d.shortRuns}},
       {"in", "out"},
       0,
       "out",
       d.shortRunsStream},
      {"compress medium runs at k = 2",
       kCompress,
       {{"in", d.mediumRuns}},
       {"in", "out", "2"},
       0,
       "out",
       LibraryCompress(d.mediumRuns, 2)},
      {"compress noise at k = 1",
       kCompress,
       {{"in", d.noise}},
       {"in", "out", "1"},
       0,
       "out",
       noiseAtK1},
      {"compress a pipe at k = 1",
       kCompress,
       {},
       {"/dev/stdin", "out", "1"},
       0,
       "out",
       noiseAtK1,
       -1,
       d.noise},
      // Refused writes: a prefix of the right bytes, the same fatal line.
      {"expand into a limit past the first threaded block",
       kExpand,
       {{"in", d.shortRunsStream}},
       {"in", "out"},
       255,
       "out",
       d.shortRuns,
       4 * static_cast<long long>(kMiB) + 4097},
      {"expand into a limit of a MiB and a byte",
       kExpand,
       {{"in", d.randomStream}},
       {"in", "out"},
       255,
       "out",
       LibraryExpand(d.randomStream),
       static_cast<long long>(kMiB) + 1},
      {"compress into a limit",
       kCompress,
       {{"in", d.noise}},
       {"in", "out", "1"},
       255,
       "out",
       noiseAtK1,
       static_cast<long long>(kMiB) + 3},
  };
  for (const FixedCase& c : cases) {
    RunFixedCase(c);
  }
  // The console text of a success and of a refused write (the run above compared it between the
  // two; here, that it is the program's usual text).
  const Seen ok = RunIn(kExpand, {{"in", d.mediumRunsStream}}, {"in", "out"},
                        RunOptions{.oneProcessor = false});
  EXPECT_EQ(ok.result.out, expanding + "\n");
  const Seen refused = RunIn(kCompress, {{"in", d.noise}}, {"in", "out", "1"},
                             RunOptions{.fileSizeLimit = static_cast<long long>(kMiB) + 3});
  EXPECT_EQ(refused.result.out, compressing + "Fatal error: Fatal error in OutputBit!\n");
}

// A run of rlegolomb with -T1, then with -T2 and -T0 (and --threads=2): the same.
struct ToolCase {
  std::string label;
  Files files;
  std::vector<std::string> arguments;
  int status;
  std::optional<Bytes> stdinBytes = std::nullopt;
  long long limit = -1;
};

TEST(ThreadsCliTest, RlegolombGivesTheSameRunsForEveryThreadCount) {
  const Inputs& d = Data();
  const Files raw = {{"a", d.shortRuns}, {"b", d.noise}};
  const Files streams = {{"a.rlg", d.shortRunsStream}, {"r.rlg", d.randomStream}};
  const std::vector<ToolCase> cases = {
      // Noise takes more than itself: a warning.
      {"compress two files, k chosen, -v", raw, {"-v", "a", "b"}, 2},
      {"compress at a k", raw, {"--k=3", "a"}, 0},
      {"expand two files, -v", streams, {"-dv", "a.rlg", "r.rlg"}, 0},
      {"a pipe to a pipe, expanding", {}, {"-dc"}, 0, d.shortRunsStream},
      {"a pipe to a pipe, compressing with k chosen", {}, {"-c"}, 0, d.mediumRuns},
      {"noise from a pipe to a file at a k", {}, {"--k=1", "-o", "out"}, 2, d.noise},
      {"a pipe to a file, compressing at a k", {}, {"--k=1", "-o", "out"}, 0, d.mediumRuns},
      {"-t", streams, {"-tv", "a.rlg", "r.rlg"}, 0},
      {"-l", streams, {"-l", "a.rlg", "r.rlg"}, 0},
      {"an index written beside", streams, {"-d", "--index", "-o", "out", "a.rlg"}, 0},
      {"a range", streams, {"-d", "--offset=3M", "--length=1500K", "-o", "out", "a.rlg"}, 0},
      {"--max-output stops it", streams, {"-d", "--max-output=3M", "-c", "r.rlg"}, 1},
      {"a refused write leaves no output",
       streams,
       {"-d", "-o", "out", "a.rlg"},
       1,
       std::nullopt,
       3 * static_cast<long long>(kMiB) + 1},
  };
  for (const ToolCase& c : cases) {
    const RunOptions options{.fileSizeLimit = c.limit, .stdinBytes = c.stdinBytes};
    std::vector<std::string> arguments = {"-T1"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const Seen one = RunIn(kTool, c.files, arguments, options);
    EXPECT_EQ(one.result.status, c.status) << c.label << ": " << one.result.err;
    for (const char* threads : {"-T2", "-T0", "--threads=2"}) {
      arguments[0] = threads;
      ExpectSame(one, RunIn(kTool, c.files, arguments, options),
                 c.label + " with " + std::string(threads));
    }
  }
}

TEST(ThreadsCliTest, RlegolombsOneThreadRunsAreRight) {
  const Inputs& d = Data();
  const Seen compressed = RunIn(kTool, {{"a", d.shortRuns}}, {"-T1", "a"}, {});
  EXPECT_EQ(compressed.result.status, 0);
  EXPECT_TRUE(compressed.files.at("a.rlg") == d.shortRunsStream);
  const Seen expanded = RunIn(kTool, {}, {"-T1", "-dc"}, {.stdinBytes = d.randomStream});
  EXPECT_EQ(expanded.result.status, 0);
  EXPECT_TRUE(Bytes(expanded.result.out.begin(), expanded.result.out.end()) ==
              LibraryExpand(d.randomStream));
  // The default is every processor: the same stream as -T1.
  const Seen byDefault = RunIn(kTool, {}, {"-c", "--k=1"}, {.stdinBytes = d.shortRuns});
  EXPECT_TRUE(Bytes(byDefault.result.out.begin(), byDefault.result.out.end()) ==
              LibraryCompress(d.shortRuns, 1));
}

TEST(ThreadsCliTest, ThreadCountsAreReadAsZstdReadsThem) {
  const Bytes stream = {0x02, 0xCB};
  // Each spelling takes its value; the run works.
  for (const std::vector<std::string>& given : {std::vector<std::string>{"-T3"},
                                                {"-T", "3"},
                                                {"--threads=0"},
                                                {"--threads", "7"},
                                                {"-dT2"},
                                                {"-T1000000"}}) {
    std::vector<std::string> arguments = given;
    arguments.push_back("-dc");
    const ProgramResult result = RunProgram(kTool, arguments, {.stdinBytes = stream});
    EXPECT_EQ(result.status, 0) << given[0] << ": " << result.err;
    const Bytes expanded = LibraryExpand(stream);
    EXPECT_EQ(result.out, std::string(expanded.begin(), expanded.end()));
  }
  const std::string tryHelp = "Try 'rlegolomb --help' for more information.\n";
  const auto invalid = [&](const std::string& value) {
    return "rlegolomb: invalid thread count '" + value +
           "': a whole number is expected (0: one per processor)\n" + tryHelp;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"-T-1"}, invalid("-1")},
      {{"--threads=-2"}, invalid("-2")},
      {{"-Tx"}, invalid("x")},
      {{"--threads=2x"}, invalid("2x")},
      {{"--threads=", "f"}, invalid("")},
      {{"-T", "+2"}, invalid("+2")},
      {{"-T1000001"}, invalid("1000001")},
      {{"-T99999999999999999999"}, invalid("99999999999999999999")},
      {{"-T"}, "rlegolomb: option requires an argument -- 'T'\n" + tryHelp},
      {{"--threads"}, "rlegolomb: option '--threads' requires an argument\n" + tryHelp},
  };
  for (const auto& [arguments, message] : refused) {
    const ProgramResult result = RunProgram(kTool, arguments, {});
    EXPECT_EQ(result.status, 1) << arguments[0];
    EXPECT_EQ(result.out, "") << arguments[0];
    EXPECT_EQ(result.err, message) << arguments[0];
  }
}

}  // namespace
