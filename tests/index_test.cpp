// Guards the index: CRC-32C against its reference, byte ranges and seeks through checkpoints
// against the whole expansion, indexes built while decoding in pieces, and damaged or foreign
// indexes refused without ever giving wrong bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crc32c.h"
#include "crc32c_tables.h"
#include "lib_support.h"
#include "rlegolomb.h"

namespace {

using IndexPtr = std::unique_ptr<rlegolomb_index, decltype(&rlegolomb_index_free)>;
using DecoderPtr = std::unique_ptr<rlegolomb_decoder, decltype(&rlegolomb_decoder_free)>;

IndexPtr Build(const Bytes& stream, std::uint64_t spacing) {
  return {rlegolomb_index_build(stream.data(), stream.size(), spacing), &rlegolomb_index_free};
}

Bytes Save(const rlegolomb_index* idx) {
  Bytes bytes(rlegolomb_index_save(idx, nullptr, 0));
  EXPECT_EQ(rlegolomb_index_save(idx, bytes.data(), bytes.size()), bytes.size());
  return bytes;
}

Bytes Slice(const Bytes& bytes, std::uint64_t offset, std::size_t length) {
  if (offset >= bytes.size()) {
    return {};
  }
  const auto from = static_cast<std::ptrdiff_t>(offset);
  const auto to =
      static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(bytes.size(), offset + length));
  return Bytes(bytes.begin() + from, bytes.begin() + to);
}

Bytes Extract(const Bytes& stream, const rlegolomb_index* idx, std::uint64_t offset,
              std::size_t length, rlegolomb_status* status) {
  Bytes out(length);
  std::size_t size = 0;
  *status = rlegolomb_extract(stream.data(), stream.size(), idx, offset, out.data(), length, &size);
  out.resize(size);
  return out;
}

TEST(Crc32cTest, KnownValueAndEveryPathAgreesWithTheTable) {
  const char* nine = "123456789";
  EXPECT_EQ(rlegolomb::Crc32c(0, nine, 9), 0xE3069283u);
  EXPECT_EQ(rlegolomb::Crc32cPortable(0, nine, 9), 0xE3069283u);
  // Lengths around the three-stream stretch (3 x 4096), the folding's start (1024) and step (256),
  // at odd starts, and continued in two parts.
  std::uint64_t state = 7;
  Bytes data(3 * 4096 * 3 + 77);
  for (auto& b : data) {
    b = static_cast<std::uint8_t>(NextRandom(&state));
  }
  namespace crc = rlegolomb::crc32c;
  for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 1023u, 1024u, 1025u, 1279u, 1280u, 4095u, 12287u,
                             12288u, 12289u, 30000u}) {
    for (std::size_t start : {0u, 1u, 5u}) {
      SCOPED_TRACE("length " + std::to_string(length) + " from " + std::to_string(start));
      const std::uint8_t* p = data.data() + start;
      const std::uint32_t expected = rlegolomb::Crc32cPortable(0, p, length);
      EXPECT_EQ(rlegolomb::Crc32c(0, p, length), expected);
      if (crc::HasInstruction()) {
        EXPECT_EQ(~crc::UpdateByInstruction(~0u, p, length), expected);
      }
      if (crc::HasFolding() && length >= crc::kFoldingFromBytes) {
        EXPECT_EQ(~crc::UpdateByFolding(~0u, p, length), expected);
        EXPECT_EQ(~crc::UpdateByFolding(~rlegolomb::Crc32c(0, p, 3), p + 3, length - 3), expected);
      }
      const std::size_t half = length / 3;
      const std::uint32_t first = rlegolomb::Crc32c(0, p, half);
      EXPECT_EQ(rlegolomb::Crc32c(first, p + half, length - half), expected);
    }
  }
}

// Streams of the kinds the decoder's paths treat apart: k = 1 (a loop of its own), the grouped
// k = 2..6, plain codes, k = 0 and k >= 32 with no quotient, long runs.
struct Case {
  int k;
  std::uint64_t seed;
  int codes;
};
const Case kCases[] = {{1, 11, 60000}, {3, 12, 30000}, {4, 13, 20000}, {6, 14, 20000},
                       {9, 15, 8000},  {0, 16, 500},   {33, 17, 5000}, {14, 18, 3000}};

TEST(IndexTest, RangesThroughCheckpointsMatchTheWholeExpansion) {
  for (const Case& c : kCases) {
    const RandomStream s = MakeRandomStream(c.k, c.seed, c.codes);
    const std::uint64_t total = s.expansion.size();
    for (std::uint64_t spacing : {1ull, 13ull, 4096ull, 0ull}) {
      SCOPED_TRACE("k " + std::to_string(c.k) + " spacing " + std::to_string(spacing));
      IndexPtr idx = Build(s.stream, spacing);
      ASSERT_NE(idx, nullptr);
      EXPECT_EQ(rlegolomb_index_expanded_bits(idx.get()), s.bits);
      const std::uint64_t used = spacing == 0 ? RLEGOLOMB_INDEX_SPACING : spacing;
      const std::uint64_t stretches = (total + used - 1) / used;
      EXPECT_EQ(rlegolomb_index_points(idx.get()), stretches == 0 ? 0 : stretches - 1);
      std::uint64_t state = c.seed;
      for (int i = 0; i < 40; ++i) {
        const std::uint64_t offset = NextRandom(&state) % (total + 3);
        const std::size_t length = NextRandom(&state) % 3000;
        rlegolomb_status status;
        EXPECT_EQ(Extract(s.stream, idx.get(), offset, length, &status),
                  Slice(s.expansion, offset, length))
            << offset << "+" << length;
        EXPECT_EQ(status, RLEGOLOMB_DONE);
      }
      // Without an index, from the start.
      rlegolomb_status status;
      EXPECT_EQ(Extract(s.stream, nullptr, total / 2, 100, &status),
                Slice(s.expansion, total / 2, 100));
      // The whole expansion checks against its own index; a flipped byte names its stretch.
      EXPECT_EQ(rlegolomb_index_verify(idx.get(), 0, s.expansion.data(), s.expansion.size()), -1);
      if (total > 0) {
        Bytes damaged = s.expansion;
        const std::uint64_t at = total * 2 / 3;
        damaged[at] ^= 0x10;
        EXPECT_EQ(rlegolomb_index_verify(idx.get(), 0, damaged.data(), damaged.size()),
                  static_cast<std::int64_t>(at / used));
      }
    }
  }
}

TEST(IndexTest, SeekThenStreamInPiecesGivesTheRest) {
  for (const Case& c : kCases) {
    const RandomStream s = MakeRandomStream(c.k, c.seed, c.codes);
    IndexPtr idx = Build(s.stream, 1000);
    ASSERT_NE(idx, nullptr);
    std::uint64_t state = c.seed * 3;
    for (int i = 0; i < 6; ++i) {
      const std::uint64_t offset = NextRandom(&state) % (s.expansion.size() + 2);
      DecoderPtr d(rlegolomb_decoder_create(), &rlegolomb_decoder_free);
      std::uint64_t inputPos = 0;
      ASSERT_EQ(rlegolomb_decoder_seek(d.get(), idx.get(), offset, &inputPos), RLEGOLOMB_DONE);
      ASSERT_LE(inputPos, s.stream.size());
      const Bytes rest(s.stream.begin() + static_cast<std::ptrdiff_t>(inputPos), s.stream.end());
      Cuts cuts = RandomCuts(NextRandom(&state));
      const Transfer t = DecodeInPieces(d.get(), rest, cuts, offset);
      SCOPED_TRACE("k " + std::to_string(c.k) + " offset " + std::to_string(offset));
      EXPECT_EQ(t.fault, "");
      EXPECT_EQ(t.status, RLEGOLOMB_DONE);
      EXPECT_EQ(t.output, Slice(s.expansion, offset, s.expansion.size()));
      // The decoder counts from the expansion's start.
      EXPECT_EQ(rlegolomb_decoder_bits(d.get()), std::max<std::uint64_t>(s.bits, 8 * offset));
    }
  }
}

// An index built in pieces: the same checksums as the one-shot index of its stream, the stream's
// fingerprint, and its checkpoints (taken wherever the calls stopped) give the same ranges.
void ExpectServesAsTheOneShotIndex(const rlegolomb_index* built, const Bytes& stream,
                                   const Bytes& expansion, std::uint64_t seed) {
  IndexPtr oneShot = Build(stream, rlegolomb_index_spacing(built));
  EXPECT_EQ(rlegolomb_index_compare(oneShot.get(), built), -1);
  EXPECT_EQ(rlegolomb_index_stream_size(built), stream.size());
  EXPECT_EQ(rlegolomb_index_check_stream(built, stream.data(), stream.size()), RLEGOLOMB_DONE);
  std::uint64_t state = seed;
  for (int i = 0; i < 20; ++i) {
    const std::uint64_t offset = NextRandom(&state) % (expansion.size() + 1);
    rlegolomb_status status;
    EXPECT_EQ(Extract(stream, built, offset, 2000, &status), Slice(expansion, offset, 2000));
  }
}

TEST(IndexTest, BuiltWhileDecodingInPiecesServesAsTheOneShotIndex) {
  for (const Case& c : kCases) {
    const RandomStream s = MakeRandomStream(c.k, c.seed, c.codes);
    DecoderPtr d(rlegolomb_decoder_create(), &rlegolomb_decoder_free);
    ASSERT_EQ(rlegolomb_decoder_build_index(d.get(), 777), RLEGOLOMB_DONE);
    Cuts cuts = RandomCuts(c.seed);
    const Transfer t = DecodeInPieces(d.get(), s.stream, cuts);
    EXPECT_EQ(t.fault, "");
    EXPECT_EQ(t.output, s.expansion);
    IndexPtr built(rlegolomb_decoder_take_index(d.get()), &rlegolomb_index_free);
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(rlegolomb_decoder_take_index(d.get()), nullptr);  // given once
    ExpectServesAsTheOneShotIndex(built.get(), s.stream, s.expansion, c.seed);
  }
}

TEST(IndexTest, BuiltWhileEncodingInPiecesServesAsTheOneShotIndex) {
  for (const Case& c : kCases) {
    const RandomStream s = MakeRandomStream(c.k, c.seed, c.codes);
    std::unique_ptr<rlegolomb_encoder, decltype(&rlegolomb_encoder_free)> e(
        rlegolomb_encoder_create(c.k), &rlegolomb_encoder_free);
    ASSERT_EQ(rlegolomb_encoder_build_index(e.get(), 999), RLEGOLOMB_DONE);
    Cuts cuts = RandomCuts(c.seed + 1);
    const Transfer t = EncodeInPieces(e.get(), s.expansion, cuts);
    EXPECT_EQ(t.fault, "");
    IndexPtr built(rlegolomb_encoder_take_index(e.get()), &rlegolomb_index_free);
    ASSERT_NE(built, nullptr);
    ExpectServesAsTheOneShotIndex(built.get(), t.output, s.expansion, c.seed);
  }
}

TEST(IndexTest, SavedAndLoadedIndexIsTheSame) {
  const RandomStream s = MakeRandomStream(4, 99, 20000);
  IndexPtr idx = Build(s.stream, 512);
  const Bytes saved = Save(idx.get());
  IndexPtr loaded(rlegolomb_index_load(saved.data(), saved.size()), &rlegolomb_index_free);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(Save(loaded.get()), saved);
  rlegolomb_status status;
  EXPECT_EQ(Extract(s.stream, loaded.get(), 12345, 4000, &status), Slice(s.expansion, 12345, 4000));
}

TEST(IndexTest, DamagedOrForeignIndexIsRefused) {
  const RandomStream s = MakeRandomStream(5, 21, 4000);
  IndexPtr idx = Build(s.stream, 300);
  const Bytes saved = Save(idx.get());
  // Every single flipped bit, and every truncation, is refused at load.
  for (std::size_t at = 0; at < saved.size(); ++at) {
    Bytes damaged = saved;
    damaged[at] ^= static_cast<std::uint8_t>(1u << (at % 8));
    EXPECT_EQ(rlegolomb_index_load(damaged.data(), damaged.size()), nullptr) << at;
    EXPECT_EQ(rlegolomb_index_load(saved.data(), at), nullptr) << at;
  }
  // Another stream's index, and the same stream with one byte changed.
  const RandomStream other = MakeRandomStream(5, 22, 4000);
  IndexPtr foreign = Build(other.stream, 300);
  Bytes out(100);
  std::size_t size = 7;
  EXPECT_EQ(rlegolomb_extract(s.stream.data(), s.stream.size(), foreign.get(), 0, out.data(),
                              out.size(), &size),
            RLEGOLOMB_ERROR_INDEX);
  EXPECT_EQ(size, 0u);
  Bytes changed = s.stream;
  changed[changed.size() / 2] ^= 1;
  EXPECT_EQ(rlegolomb_extract(changed.data(), changed.size(), idx.get(), 0, out.data(), out.size(),
                              &size),
            RLEGOLOMB_ERROR_INDEX);
  // An index of the changed stream, compared with the one of the good stream, tells where the
  // expansions part.
  IndexPtr changedIdx = Build(changed, 300);
  const std::int64_t first = rlegolomb_index_compare(idx.get(), changedIdx.get());
  ASSERT_GE(first, 0);
  const Bytes changedExpansion = ExpandBytesSimple(changed);
  const auto differs = std::mismatch(s.expansion.begin(), s.expansion.end(),
                                     changedExpansion.begin(), changedExpansion.end());
  EXPECT_EQ(static_cast<std::uint64_t>(first),
            static_cast<std::uint64_t>(differs.first - s.expansion.begin()) / 300);
}

TEST(IndexTest, EdgesOfTheExpansion) {
  // An empty stream, a header alone, an expansion of exactly two spacings.
  const Bytes empty;
  const Bytes header = BuildStream([](BitStream* b) {
    PutBits(b, 4, 8);
    PutBits(b, 1, 1);
  });
  const Bytes twoSpacings = BuildStream([](BitStream* b) {
    PutBits(b, 6, 8);  // k
    PutBits(b, 0, 1);  // first value
    PutUnary(b, 1);    // 64 zeros
    PutBits(b, 0, 6);
    PutUnary(b, 1);  // 64 ones
    PutBits(b, 0, 6);
  });
  for (const Bytes* stream : {&empty, &header, &twoSpacings}) {
    const Bytes expansion = ExpandBytesSimple(*stream);
    const std::uint8_t none = 0;
    IndexPtr idx(rlegolomb_index_build(stream->empty() ? &none : stream->data(), stream->size(), 8),
                 &rlegolomb_index_free);
    ASSERT_NE(idx, nullptr);
    EXPECT_EQ(rlegolomb_index_points(idx.get()),
              expansion.size() <= 8 ? 0u : expansion.size() / 8 - 1);
    for (std::uint64_t offset : {0ull, 7ull, 8ull, 15ull, 16ull, 1000ull}) {
      rlegolomb_status status;
      EXPECT_EQ(Extract(*stream, idx.get(), offset, 9, &status), Slice(expansion, offset, 9));
      EXPECT_EQ(status, RLEGOLOMB_DONE);
    }
  }
  EXPECT_EQ(rlegolomb_index_build(nullptr, 0, 0), nullptr);
  std::uint64_t pos = 0;
  EXPECT_EQ(rlegolomb_decoder_seek(nullptr, nullptr, 0, &pos), RLEGOLOMB_ERROR_ARGUMENT);
  // Building is for the start of a stream only.
  DecoderPtr d(rlegolomb_decoder_create(), &rlegolomb_decoder_free);
  Bytes room(4);
  rlegolomb_in in{twoSpacings.data(), 2, 0};
  rlegolomb_out out{room.data(), room.size(), 0};
  rlegolomb_decode(d.get(), &out, &in, 0);
  EXPECT_EQ(rlegolomb_decoder_build_index(d.get(), 8), RLEGOLOMB_ERROR_ARGUMENT);
}

}  // namespace
