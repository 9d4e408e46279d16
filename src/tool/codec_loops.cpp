// The compressing, expanding and measuring loops over the library's public API.
#include "tool/codec_loops.h"

#include <fcntl.h>
#include <rlegolomb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "code_rules.h"
#include "tool/cleanup.h"

namespace {

struct DecoderFree {
  void operator()(rlegolomb_decoder* d) const { rlegolomb_decoder_free(d); }
};
struct EncoderFree {
  void operator()(rlegolomb_encoder* e) const { rlegolomb_encoder_free(e); }
};
struct SizerFree {
  void operator()(rlegolomb_sizer* s) const { rlegolomb_sizer_free(s); }
};

// A copy of a pipe, nameless from the start: mkstemp, then unlink at once, with the signals held
// in between so that no name is ever left behind. -1 after reporting.
int CreateNamelessFile(const Input& input, Reporter& reporter) {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') {
    folder = "/tmp";
  }
  std::string pattern = std::string(folder) + "/rlegolomb-XXXXXX";
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  const SignalsHeld held;
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    reporter.Error(input.name.c_str(),
                   "cannot create a temporary copy in %s to choose k: %s (give --k=N)", folder,
                   std::strerror(errno));
    return -1;
  }
  unlink(path.data());
  return fd;
}

// The reads of a measuring pass: whole blocks but at the end (a pipe or a slow disk may give less
// at a time), with the progress line kept up to date and, for a pipe, the copy written on the way.
struct MeasuredInput {
  Input* input;
  Reporter* reporter;
  int copy;  // the nameless copy of a pipe, or -1
  std::uint64_t bytesIn;
  bool failed;  // a read or the copy failed, and was reported
};

std::size_t ReadMeasuredBlock(void* source, std::uint8_t* bytes, std::size_t size) {
  auto* measured = static_cast<MeasuredInput*>(source);
  std::size_t filled = 0;
  while (filled < size && !measured->failed) {
    const long got =
        ReadInput(*measured->input, bytes + filled, size - filled, *measured->reporter);
    if (got <= 0) {
      measured->failed = got < 0;
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  if (measured->copy >= 0 && !measured->failed && !WriteWhole(measured->copy, bytes, filled)) {
    measured->reporter->EndProgress();
    measured->reporter->Error(measured->input->name.c_str(),
                              "cannot write its temporary copy to choose k: %s (give --k=N)",
                              std::strerror(errno));
    measured->failed = true;
  }
  measured->bytesIn += filled;
  measured->reporter->UpdateProgress(measured->bytesIn, 0);
  return measured->failed ? 0 : filled;
}

bool SeekMeasured(void* source, std::uint64_t offset) {
  auto* measured = static_cast<MeasuredInput*>(source);
  return lseek(measured->input->fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

}  // namespace

bool ChooseK(Input& input, Buffers& buffers, Reporter& reporter, int* k) {
  const std::unique_ptr<rlegolomb_sizer, SizerFree> sizer(rlegolomb_sizer_create());
  if (!sizer) {
    reporter.Error(input.name.c_str(), "out of memory");
    return false;
  }
  const off_t start = S_ISREG(input.status.st_mode) ? lseek(input.fd, 0, SEEK_CUR) : -1;
  UniqueFd copy;
  if (start < 0) {
    copy.Reset(CreateNamelessFile(input, reporter));
    if (copy.Get() < 0) {
      return false;
    }
  }
  reporter.BeginProgress(input.name, false);
  MeasuredInput measured{&input, &reporter, copy.Get(), 0, false};
  const HalvesInput halves{input.fd, ReadMeasuredBlock, SeekMeasured, &measured};
  // Halves only from the start of a regular file, as the fixed compressor measures.
  MeasuredSizes sizes{};
  if (start != 0 || !MeasureInHalves(halves, sizer.get(), buffers.CompressionInput(),
                                     buffers.CompressionOutput(kBlockBytes), kBlockBytes,
                                     kSplitMeasureBytes, &sizes)) {
    sizes = MeasureInOnePass(halves, sizer.get(), buffers.CompressionInput(), kBlockBytes);
  }
  reporter.EndProgress();
  if (measured.failed) {
    return false;
  }
  *k = rlegolomb::SmallestClass(sizes.bits);
  if (copy.Get() >= 0) {
    input.fd = copy.Get();
    input.owned = std::move(copy);
  }
  if (lseek(input.fd, start < 0 ? 0 : start, SEEK_SET) < 0) {
    reporter.Error(input.name.c_str(), "cannot read it a second time: %s (give --k=N)",
                   std::strerror(errno));
    return false;
  }
  return true;
}

namespace {

// The writer's writes: to the job's output, the error kept for the job's thread to report.
bool WriteToOutput(void* target, const std::uint8_t* bytes, std::size_t size) {
  return static_cast<Output*>(target)->WriteQuietly(bytes, size);
}

#if defined(RLEG_WRITER_THREAD)
constexpr bool kWriterThread = true;
#else
constexpr bool kWriterThread = false;
#endif

#if defined(RLEG_THREADS)
constexpr bool kThreadsBuilt = true;
#else
constexpr bool kThreadsBuilt = false;
#endif

// The thread count an object will use: `threads` given to `setThreads` (a decoder's or an
// encoder's), or 1 with no call at all when one is asked for, the build has threads off, or the
// input is a regular file too small to gain from them.
template <typename Object>
int ObjectThreads(Object* object, int (*setThreads)(Object*, int), int threads,
                  const Input& input) {
  if (!kThreadsBuilt || threads == 1 || !InputWorthThreads(input.fd)) {
    return 1;
  }
  const int count = setThreads(object, threads);
  return count > 1 ? count : 1;
}

// Reads until `capacity` bytes are in or the input ends: a pipe gives at most 64 KiB per read,
// and a threaded call wants a few MiB. The count, 0 at the end, or -1 after reporting a read error.
long FillInput(Input& input, std::uint8_t* buffer, std::size_t capacity, Reporter& reporter) {
  std::size_t filled = 0;
  while (filled < capacity) {
    const long got = ReadInput(input, buffer + filled, capacity - filled, reporter);
    if (got < 0) {
      return -1;
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<long>(filled);
}

// A read of the next piece: as the input gives it with one thread, whole blocks with more.
long ReadPiece(Input& input, std::uint8_t* buffer, std::size_t capacity, bool fill,
               Reporter& reporter) {
  return fill ? FillInput(input, buffer, capacity, reporter)
              : ReadInput(input, buffer, capacity, reporter);
}

}  // namespace

bool CompressInput(Input& input, int k, Output& output, int threads, Buffers& buffers,
                   Reporter& reporter, StreamFacts* facts, IndexWork* index) {
  const std::unique_ptr<rlegolomb_encoder, EncoderFree> encoder(rlegolomb_encoder_create(k));
  const int count =
      encoder ? ObjectThreads(encoder.get(), rlegolomb_encoder_set_threads, threads, input) : 1;
  if (!encoder ||
      (index != nullptr && index->build &&
       rlegolomb_encoder_build_index(encoder.get(), index->spacing) != RLEGOLOMB_DONE)) {
    reporter.Error(input.name.c_str(), "out of memory");
    return false;
  }
  // Without memory for the larger blocks, the threads work on the one-thread blocks.
  std::size_t blockBytes = count > 1 ? ThreadBlockBytes(count) : kBlockBytes;
  if (!buffers.Reserve(2 * blockBytes)) {
    blockBytes = kBlockBytes;
  }
  const bool fill = blockBytes > kBlockBytes;
  facts->k = k;
  reporter.BeginProgress(input.name, false);
  std::uint8_t* const in = buffers.CompressionInput();
  std::uint8_t* const block = buffers.CompressionOutput(blockBytes);
  rlegolomb_out out{block, blockBytes, 0};
  rlegolomb_status status = RLEGOLOMB_MORE;
  while (status == RLEGOLOMB_MORE) {
    const long got = ReadPiece(input, in, blockBytes, fill, reporter);
    if (got < 0) {
      reporter.EndProgress();
      return false;
    }
    facts->bytesIn += static_cast<std::uint64_t>(got);
    const int final = got == 0 ? 1 : 0;
    rlegolomb_in piece{in, static_cast<std::size_t>(got), 0};
    // A full block goes out at once; the rest of one waits for the next piece or the end.
    while ((status = rlegolomb_encode(encoder.get(), &out, &piece, final)) == RLEGOLOMB_MORE &&
           out.pos == out.size) {
      if (!output.Write(block, out.pos)) {
        reporter.EndProgress();
        return false;
      }
      facts->bytesOut += out.pos;
      out.pos = 0;
    }
    reporter.UpdateProgress(facts->bytesIn, facts->bytesOut + out.pos);
  }
  reporter.EndProgress();
  if (status != RLEGOLOMB_DONE) {
    reporter.Error(input.name.c_str(), "%s", rlegolomb_status_text(status));
    return false;
  }
  if (!output.Write(block, out.pos)) {
    return false;
  }
  facts->bytesOut += out.pos;
  if (index != nullptr && index->build) {
    index->built = rlegolomb_encoder_take_index(encoder.get());
  }
  return true;
}

bool ExpandInput(Input& input, Output* output, std::uint64_t limit, int threads, Buffers& buffers,
                 Reporter& reporter, StreamFacts* facts, IndexWork* index) {
  const std::unique_ptr<rlegolomb_decoder, DecoderFree> decoder(rlegolomb_decoder_create());
  // The threads are set first: the decoder takes them only at the start of a stream, before a
  // seek places it.
  const int count =
      decoder ? ObjectThreads(decoder.get(), rlegolomb_decoder_set_threads, threads, input) : 1;
  if (!decoder ||
      (index != nullptr && index->build &&
       rlegolomb_decoder_build_index(decoder.get(), index->spacing) != RLEGOLOMB_DONE)) {
    reporter.Error(input.name.c_str(), "out of memory");
    return false;
  }
  // A range: the decoder starts at a checkpoint (or the start) and drops what comes before the
  // offset; the limit, counted from the expansion's start, ends the range, unless --max-output
  // ends it first.
  const bool range = index != nullptr && index->range;
  std::uint64_t rangeEnd = 0;
  if (range) {
    std::uint64_t inputPos = 0;
    rlegolomb_decoder_seek(decoder.get(), index->seek, index->offset, &inputPos);
    if (!SkipInput(input, inputPos, reporter)) {
      return false;
    }
    facts->bytesIn += inputPos;
    if (index->length != 0) {
      rangeEnd = index->offset + std::min(index->length, UINT64_MAX - index->offset);
      if (limit == 0 || rangeEnd < limit) {
        limit = rangeEnd;
      }
    }
  }
  rlegolomb_decoder_set_limit(decoder.get(), limit);
  reporter.BeginProgress(input.name, true);
  // Without an output (-t, -l) the one block is filled over and over.
  const bool overlapped = kWriterThread && output != nullptr;
  const int outputBlocks = overlapped ? kWriterBlocks : 1;
  // Without memory for the larger blocks, the threads work on the one-thread blocks.
  ExpansionBlocks sizes = ExpansionBlocksFor(count);
  if (!buffers.Reserve(ExpansionBytes(sizes, outputBlocks))) {
    sizes = ExpansionBlocksFor(1);
  }
  const bool fill = sizes.inputBytes > kInputBlockBytes;
  BlockWriter writer;
  StartBlockWriter(&writer, WriteToOutput, output, buffers.ExpansionOutput(sizes),
                   sizes.outputBytes, overlapped);
  std::uint8_t* const in = buffers.ExpansionInput();
  std::uint8_t* block = FirstBlockToFill(&writer);
  rlegolomb_out out{block, sizes.outputBytes, 0};
  std::size_t consumed = 0;  // input bytes decoded into the block being filled
  rlegolomb_status status = RLEGOLOMB_MORE;
  bool writeFailed = false;
  while (status == RLEGOLOMB_MORE && !writeFailed) {
    const long got = ReadPiece(input, in, sizes.inputBytes, fill, reporter);
    if (got < 0) {
      StopBlockWriter(&writer);
      reporter.EndProgress();
      return false;
    }
    facts->bytesIn += static_cast<std::uint64_t>(got);
    const int final = got == 0 ? 1 : 0;
    rlegolomb_in piece{in, static_cast<std::size_t>(got), 0};
    for (;;) {
      const std::size_t before = piece.pos;
      status = rlegolomb_decode(decoder.get(), &out, &piece, final);
      consumed += piece.pos - before;
      if (status != RLEGOLOMB_MORE || out.pos < out.size) {
        break;  // the end, or this piece of input is used up
      }
      // A full block with bits still to write: more bytes follow.
      facts->bytesOut += out.pos;
      block = output != nullptr ? HandOverBlock(&writer, out.pos, consumed) : block;
      if (block == nullptr) {
        writeFailed = true;
        break;
      }
      out = {block, sizes.outputBytes, 0};
      consumed = 0;
    }
    reporter.UpdateProgress(facts->bytesIn, facts->bytesOut + out.pos);
  }
  // The last bytes, after every block before them; on an error too, so that standard output has
  // the first bytes of an expansion stopped by the limit.
  writeFailed = !StopBlockWriter(&writer) || writeFailed;
  reporter.EndProgress();
  if (writeFailed) {
    output->ReportWriteError();
    return false;
  }
  if (output != nullptr && out.pos > 0 && !output->Write(block, out.pos)) {
    return false;
  }
  facts->bytesOut += out.pos;
  if (status == RLEGOLOMB_ERROR_LIMIT && range && limit == rangeEnd) {
    status = RLEGOLOMB_DONE;  // the range's end, not the expansion's
  }
  if (status == RLEGOLOMB_ERROR_LIMIT && output != nullptr && !output->EndStoppedStdout()) {
    return false;
  }
  if (status == RLEGOLOMB_ERROR_LIMIT) {
    reporter.Error(input.name.c_str(),
                   "expands to more than %" PRIu64 " bytes (--max-output); stopped", limit);
  } else if (status < 0) {
    reporter.Error(input.name.c_str(), "%s", rlegolomb_status_text(status));
  }
  if (status != RLEGOLOMB_DONE) {
    return false;
  }
  facts->k = rlegolomb_decoder_k(decoder.get());
  facts->bits = rlegolomb_decoder_bits(decoder.get());
  facts->codes = rlegolomb_decoder_codes(decoder.get());
  if (index != nullptr && index->build) {
    index->built = rlegolomb_decoder_take_index(decoder.get());
  }
  return true;
}
