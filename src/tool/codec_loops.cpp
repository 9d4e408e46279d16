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
#include <optional>
#include <string>
#include <vector>

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

bool WriteWhole(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      if (written == 0) {
        errno = ENOSPC;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
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
  std::uint64_t bytesIn = 0;
  for (;;) {
    const long got = ReadInput(input, buffers.in, Buffers::kSize, reporter);
    if (got < 0) {
      reporter.EndProgress();
      return false;
    }
    if (got == 0) {
      break;
    }
    const auto size = static_cast<std::size_t>(got);
    rlegolomb_sizer_update(sizer.get(), buffers.in, size);
    if (copy.Get() >= 0 && !WriteWhole(copy.Get(), buffers.in, size)) {
      reporter.EndProgress();
      reporter.Error(input.name.c_str(),
                     "cannot write its temporary copy to choose k: %s (give --k=N)",
                     std::strerror(errno));
      return false;
    }
    bytesIn += size;
    reporter.UpdateProgress(bytesIn, 0);
  }
  reporter.EndProgress();
  *k = rlegolomb_sizer_choose_k(sizer.get());
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

// Reads `input` to its end and passes it, piece by piece, through `step` (a stream call of the
// library: rlegolomb_encode or rlegolomb_decode on one object) into the output buffer, whose bytes
// go to `output` (nowhere when it is null) as they come, with the progress line kept up to date.
// Returns the last status, or nothing after a read or write error (already reported).
template <typename Step>
std::optional<rlegolomb_status> PumpStream(Input& input, Output* output, Buffers& buffers,
                                           Reporter& reporter, StreamFacts* facts, Step step) {
  rlegolomb_status status = RLEGOLOMB_MORE;
  while (status == RLEGOLOMB_MORE) {
    const long got = ReadInput(input, buffers.in, Buffers::kSize, reporter);
    if (got < 0) {
      return std::nullopt;
    }
    facts->bytesIn += static_cast<std::uint64_t>(got);
    const int final = got == 0 ? 1 : 0;
    rlegolomb_in piece{buffers.in, static_cast<std::size_t>(got), 0};
    do {
      rlegolomb_out room{buffers.out, Buffers::kSize, 0};
      status = step(&room, &piece, final);
      if (output != nullptr && room.pos > 0 && !output->Write(buffers.out, room.pos)) {
        return std::nullopt;
      }
      facts->bytesOut += room.pos;
      reporter.UpdateProgress(facts->bytesIn, facts->bytesOut);
    } while (status == RLEGOLOMB_MORE && (piece.pos < piece.size || final != 0));
  }
  return status;
}

}  // namespace

bool CompressInput(Input& input, int k, Output& output, Buffers& buffers, Reporter& reporter,
                   StreamFacts* facts) {
  const std::unique_ptr<rlegolomb_encoder, EncoderFree> encoder(rlegolomb_encoder_create(k));
  if (!encoder) {
    reporter.Error(input.name.c_str(), "out of memory");
    return false;
  }
  facts->k = k;
  reporter.BeginProgress(input.name, false);
  const std::optional<rlegolomb_status> status =
      PumpStream(input, &output, buffers, reporter, facts,
                 [&encoder](rlegolomb_out* room, rlegolomb_in* piece, int final) {
                   return rlegolomb_encode(encoder.get(), room, piece, final);
                 });
  reporter.EndProgress();
  if (status && *status < 0) {
    reporter.Error(input.name.c_str(), "%s", rlegolomb_status_text(*status));
  }
  return status == RLEGOLOMB_DONE;
}

bool ExpandInput(Input& input, Output* output, std::uint64_t limit, Buffers& buffers,
                 Reporter& reporter, StreamFacts* facts) {
  const std::unique_ptr<rlegolomb_decoder, DecoderFree> decoder(rlegolomb_decoder_create());
  if (!decoder) {
    reporter.Error(input.name.c_str(), "out of memory");
    return false;
  }
  rlegolomb_decoder_set_limit(decoder.get(), limit);
  reporter.BeginProgress(input.name, true);
  const std::optional<rlegolomb_status> status =
      PumpStream(input, output, buffers, reporter, facts,
                 [&decoder](rlegolomb_out* room, rlegolomb_in* piece, int final) {
                   return rlegolomb_decode(decoder.get(), room, piece, final);
                 });
  reporter.EndProgress();
  if (status == RLEGOLOMB_ERROR_LIMIT) {
    reporter.Error(input.name.c_str(),
                   "expands to more than %" PRIu64 " bytes (--max-output); stopped", limit);
  } else if (status && *status < 0) {
    reporter.Error(input.name.c_str(), "%s", rlegolomb_status_text(*status));
  }
  if (status != RLEGOLOMB_DONE) {
    return false;
  }
  facts->k = rlegolomb_decoder_k(decoder.get());
  facts->bits = rlegolomb_decoder_bits(decoder.get());
  facts->codes = rlegolomb_decoder_codes(decoder.get());
  return true;
}
