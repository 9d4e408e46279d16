// The piece driver of the library's tests and their random streams.
#include "lib_support.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Bytes of a known value after each room: a call must leave them alone.
constexpr std::size_t kGuardBytes = 8;
constexpr std::uint64_t kGuardWord = 0xA5A5A5A5A5A5A5A5u;
static_assert(kGuardBytes == sizeof kGuardWord);
// The 8 bytes before each room, the output's last (or padding before its first byte), compared
// after each call: a call must leave them alone.
constexpr std::size_t kKeptBytes = 8;
// A size of 0 this many times in a row becomes 1.
constexpr int kMostZeros = 3;

// The 8 bytes at `bytes` as one word, to compare them at once.
std::uint64_t Word(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::size_t NotStuck(std::size_t size, int* zeros) {
  if (size != 0) {
    *zeros = 0;
    return size;
  }
  if (++*zeros > kMostZeros) {
    *zeros = 0;
    return 1;
  }
  return 0;
}

// 0 and 1 often, then a few bytes, then up to 4 KiB.
std::size_t RandomSize(std::uint64_t* state) {
  const std::uint64_t pick = NextRandom(state) % 8;
  if (pick < 3) {
    return static_cast<std::size_t>(pick % 2);
  }
  if (pick < 6) {
    return static_cast<std::size_t>(2 + NextRandom(state) % 20);
  }
  return static_cast<std::size_t>(NextRandom(state) % 4097);
}

const char* StatusName(rlegolomb_status status) {
  switch (status) {
    case RLEGOLOMB_DONE:
      return "DONE";
    case RLEGOLOMB_MORE:
      return "MORE";
    case RLEGOLOMB_ERROR_LIMIT:
      return "ERROR_LIMIT";
    case RLEGOLOMB_ERROR_MEMORY:
      return "ERROR_MEMORY";
    case RLEGOLOMB_ERROR_ARGUMENT:
      return "ERROR_ARGUMENT";
    case RLEGOLOMB_ERROR_INDEX:
      return "ERROR_INDEX";
  }
  return "a status outside the enum";
}

using Call = std::function<rlegolomb_status(rlegolomb_out*, rlegolomb_in*, int)>;
// A check of its own after each call of one kind of object: "" when the call kept it.
using ExtraCheck =
    std::function<std::string(const rlegolomb_in&, const rlegolomb_out&, rlegolomb_status, bool)>;

Transfer InPieces(const Call& call, const ExtraCheck& extra, const Bytes& input, Cuts& cuts) {
  Transfer transfer;
  Bytes buffer;
  std::size_t length = 0;  // output so far
  std::size_t offset = 0;  // input consumed so far
  int zeroPieces = 0;
  int zeroRooms = 0;
  bool lastGiven = false;  // the last piece went non-final: an empty final piece is due
  const auto fail = [&](const std::string& what) {
    transfer.fault = "call " + std::to_string(transfer.calls) + ": " + what;
  };
  rlegolomb_status status = RLEGOLOMB_MORE;
  for (std::size_t pieceNumber = 0;; ++pieceNumber) {
    std::size_t piece = 0;
    bool final = true;
    if (!lastGiven) {
      piece = std::min(NotStuck(cuts.piece(), &zeroPieces), input.size() - offset);
      const bool last = offset + piece == input.size();
      final = last && !cuts.finalApart;
      lastGiven = last && cuts.finalApart;
    }
    const bool atStart = pieceNumber % 2 == 0;
    const std::uint8_t* base = input.data();
    rlegolomb_in in = atStart ? rlegolomb_in{base, offset + piece, offset}
                              : rlegolomb_in{base == nullptr ? nullptr : base + offset, piece, 0};
    const std::size_t firstPos = in.pos;
    do {
      const std::size_t room = NotStuck(cuts.room(), &zeroRooms);
      // The buffer holds kKeptBytes of padding, the output so far, the room and the guard.
      if (buffer.size() < kKeptBytes + length + room + kGuardBytes) {
        buffer.resize(std::max(kKeptBytes + length + room + kGuardBytes, 2 * buffer.size()));
      }
      std::uint8_t* const dst = buffer.data() + kKeptBytes;
      std::memcpy(dst + length + room, &kGuardWord, kGuardBytes);
      const std::uint64_t kept = Word(dst + length - kKeptBytes);
      rlegolomb_out out{dst, length + room, length};
      const std::size_t inBefore = in.pos;
      status = call(&out, &in, final ? 1 : 0);
      ++transfer.calls;
      const auto what = [&] {
        return std::string(StatusName(status)) + (final ? ", final" : "") + ", piece " +
               std::to_string(pieceNumber) + ", room " + std::to_string(room) + ": ";
      };
      if (status != RLEGOLOMB_DONE && status != RLEGOLOMB_MORE && status != RLEGOLOMB_ERROR_LIMIT) {
        fail(what() + "an unexpected status");
      } else if (in.pos < inBefore || in.pos > in.size) {
        fail(what() + "in.pos moved back or past in.size");
      } else if (out.pos < length || out.pos > out.size) {
        fail(what() + "out.pos moved back or past out.size");
      } else if (Word(dst + length + room) != kGuardWord) {
        fail(what() + "wrote past out.size");
      } else if (Word(dst + length - kKeptBytes) != kept) {
        fail(what() + "wrote before out.pos");
      } else if (status == RLEGOLOMB_MORE && out.pos < out.size && (final || in.pos < in.size)) {
        fail(what() + "MORE with room left and " + (final ? "final set" : "input left"));
      } else if (status == RLEGOLOMB_DONE && !final) {
        fail(what() + "DONE without final");
      } else {
        const std::string broken = extra(in, out, status, final);
        if (!broken.empty()) {
          fail(what() + broken);
        }
      }
      length = out.pos;
      if (!transfer.fault.empty()) {
        transfer.status = status;
        transfer.output.assign(dst, dst + length);
        return transfer;
      }
    } while (status == RLEGOLOMB_MORE && (in.pos < in.size || final));
    offset += in.pos - firstPos;
    if (status != RLEGOLOMB_MORE) {
      break;
    }
  }
  transfer.status = status;
  if (!buffer.empty()) {
    transfer.output.assign(buffer.begin() + kKeptBytes,
                           buffer.begin() + static_cast<std::ptrdiff_t>(kKeptBytes + length));
  }

  // Once ended, a stream stays ended: the same status, nothing written, whatever comes.
  const std::uint8_t more[4] = {0x12, 0xFF, 0x00, 0x80};
  std::uint8_t room[16];
  rlegolomb_in in{more, sizeof more, 0};
  rlegolomb_out out{room, sizeof room, 0};
  const rlegolomb_status again = call(&out, &in, 1);
  ++transfer.calls;
  if (again != status || out.pos != 0) {
    fail(std::string("after ") + StatusName(status) + ": " + StatusName(again) + " and " +
         std::to_string(out.pos) + " bytes written");
  }
  return transfer;
}

}  // namespace

Cuts EvenCuts(std::size_t piece, std::size_t room) {
  return {[piece] { return piece; }, [room] { return room; }};
}

Cuts RandomCuts(std::uint64_t seed) {
  auto state = std::make_shared<std::uint64_t>(seed | 1);
  return {[state] { return RandomSize(state.get()); }, [state] { return RandomSize(state.get()); }};
}

Transfer DecodeInPieces(rlegolomb_decoder* d, const Bytes& stream, Cuts& cuts,
                        std::uint64_t startByte) {
  return InPieces(
      [d](rlegolomb_out* out, rlegolomb_in* in, int final) {
        return rlegolomb_decode(d, out, in, final);
      },
      [d, startByte](const rlegolomb_in& in, const rlegolomb_out& out, rlegolomb_status status,
                     bool final) -> std::string {
        const std::uint64_t whole = std::max(rlegolomb_decoder_bits(d) / 8, startByte) - startByte;
        if (status == RLEGOLOMB_MORE && !final && in.pos == in.size && out.pos < out.size &&
            out.pos != whole) {
          return "the piece is used up with room left, but " + std::to_string(out.pos) +
                 " bytes are out of " + std::to_string(rlegolomb_decoder_bits(d)) + " bits decoded";
        }
        return "";
      },
      stream, cuts);
}

Transfer EncodeInPieces(rlegolomb_encoder* e, const Bytes& input, Cuts& cuts) {
  return InPieces([e](rlegolomb_out* out, rlegolomb_in* in,
                      int final) { return rlegolomb_encode(e, out, in, final); },
                  [](const rlegolomb_in&, const rlegolomb_out&, rlegolomb_status, bool) {
                    return std::string();
                  },
                  input, cuts);
}

namespace {

// The stream being built and the expansion it must give.
struct Builder {
  int k;
  std::uint32_t m;       // 2^k in 32 bits
  int width;             // of the remainder
  std::uint32_t widest;  // the largest remainder
  std::uint32_t value;   // of the next run
  BitStream stream;
  BitStream expansion;
  std::uint64_t bits;
  std::uint64_t state;
};

// Writes the code q, r and what it decodes to: q*m + r in 32 bits, nothing when 0 or negative.
void PutCode(Builder* b, std::uint32_t q, std::uint32_t r) {
  PutUnary(&b->stream, q);
  PutBits(&b->stream, r, b->width);
  const std::uint32_t length = q * b->m + r;
  if (static_cast<std::int32_t>(length) > 0) {
    PutRun(&b->expansion, b->value, length);
    b->bits += length;
  }
  b->value ^= 1;
}

// A code for a run of `length` (0..the longest at k), in one of the forms the decoder's 32-bit
// rules allow for it.
void PutLength(Builder* b, std::uint32_t length) {
  const bool other = NextRandom(&b->state) % 10 < 3;
  const int k = b->k;
  std::uint32_t q = 0;
  if (k >= 1 && k <= 30) {
    q = length >> k;
    if (other && k >= 26) {
      q += std::uint32_t{1} << (32 - k);  // q*m wraps past 2^32 to the same length
    }
  } else if (k == 0) {
    // m = 1: the ones add to the remainder, which wraps: q = j, r = length - j.
    if (other) {
      q = static_cast<std::uint32_t>(1 + NextRandom(&b->state) % 40);
    }
  } else if (k == 31) {
    if (other) {
      q = 2;  // 2 * 2^31 wraps to 0
    }
  } else if (other) {
    q = static_cast<std::uint32_t>(NextRandom(&b->state) % 100);  // m = 0: the ones add nothing
  }
  PutCode(b, q, length - q * b->m);
}

std::uint32_t LongestRun(const Builder& b) {
  return (b.k >= 1 && b.k <= 30) || b.width >= 31 ? 0x7FFFFFFFu : b.widest;
}

}  // namespace

RandomStream MakeRandomStream(int k, std::uint64_t seed, int codes) {
  Builder b{};
  b.k = k;
  b.m = k < 32 ? std::uint32_t{1} << k : 0;
  b.width = ((k - 1) & 31) + 1;
  b.widest = b.width == 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << b.width) - 1;
  b.state = seed * 0x9E3779B97F4A7C15u + static_cast<std::uint64_t>(k) + 1;
  b.value = static_cast<std::uint32_t>(NextRandom(&b.state) & 1);
  PutBits(&b.stream, static_cast<std::uint32_t>(k), 8);
  PutBits(&b.stream, b.value, 1);
  for (int i = 0; i < codes; ++i) {
    const std::uint64_t pick = NextRandom(&b.state) % 100;
    if (pick < 10) {
      PutLength(&b, 0);
    } else if (pick < 15) {
      // A negative length writes nothing; where no small code makes one, a zero-length code.
      const auto q = static_cast<std::uint32_t>(NextRandom(&b.state) % 64);
      const auto r = static_cast<std::uint32_t>(NextRandom(&b.state)) & b.widest;
      if (static_cast<std::int32_t>(q * b.m + r) < 0) {
        PutCode(&b, q, r);
      } else {
        PutLength(&b, 0);
      }
    } else {
      const std::uint64_t size = NextRandom(&b.state) % 100;
      const std::uint64_t length = size < 70   ? 1 + NextRandom(&b.state) % 16
                                   : size < 90 ? 17 + NextRandom(&b.state) % 284
                                   : size < 98 ? 301 + NextRandom(&b.state) % 2700
                                               : 3001 + NextRandom(&b.state) % 17000;
      PutLength(&b, static_cast<std::uint32_t>(std::min<std::uint64_t>(length, LongestRun(b))));
    }
  }
  const std::uint64_t ending = NextRandom(&b.state) % 4;
  if (ending == 1 || ending == 3) {
    // A quotient that runs into the end: ones to the end of the byte (a byte of them when the
    // codes end with one), then for a long one a few more bytes of ones.
    do {
      PutBits(&b.stream, 1, 1);
    } while (b.stream.usedBits != 0);
    if (ending == 3) {
      b.stream.bytes.insert(b.stream.bytes.end(), 1 + NextRandom(&b.state) % 3, 0xFF);
    }
  } else if (ending == 2) {
    // A code whose remainder the end cuts off; whole codes first while the byte holds them.
    auto q = static_cast<std::uint32_t>(NextRandom(&b.state) % 20);
    for (;;) {
      PutUnary(&b.stream, q);
      const int left = (8 - b.stream.usedBits) % 8;
      if (left < b.width) {
        PutBits(&b.stream, static_cast<std::uint32_t>(NextRandom(&b.state)), left);
        break;
      }
      // The byte holds the whole remainder: the code is complete, as PutCode writes it.
      const auto r = static_cast<std::uint32_t>(NextRandom(&b.state)) & b.widest;
      PutBits(&b.stream, r, b.width);
      const std::uint32_t length = q * b.m + r;
      if (static_cast<std::int32_t>(length) > 0) {
        PutRun(&b.expansion, b.value, length);
        b.bits += length;
      }
      b.value ^= 1;
      q = 0;
    }
  }
  // Otherwise the fill ends it: zero-length codes, or a code cut off by the end.
  return {b.stream.bytes, b.expansion.bytes, b.bits};
}
