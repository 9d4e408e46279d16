// The sizer: the size of the stream of an input that comes in pieces, at every k at once, from its
// runs (found as the encoder finds them, run_scan.h) tallied by length.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <tuple>

#include "bits.h"
#include "code_rules.h"
#include "cpu.h"
#include "rlegolomb.h"
#include "run_scan.h"
#include "sizer_state.h"

namespace rlegolomb {
namespace {

// Unrolled, each class's width, unit and longest run are constants: a run that one code holds
// costs a shift and an add per class, and only longer ones divide.
void AddRunBits(std::array<std::uint64_t, kExponentClasses>* bits, std::uint64_t length,
                std::uint64_t runs) {
#pragma GCC unroll 64
  for (int c = 0; c < kExponentClasses; ++c) {
    (*bits)[static_cast<std::size_t>(c)] += runs * RunBits(c, length);
  }
}

// The bits of the stream at every class of all input so far: header, first value, every run.
template <typename Tally>
std::array<std::uint64_t, kExponentClasses> CountStreamBits(const Tally& tally) {
  std::array<std::uint64_t, kExponentClasses> bits = tally.longBits;
  for (std::uint64_t l = 1; l < tally.shortRuns[0].size(); ++l) {
    std::uint64_t runs = 0;
    for (const auto& lane : tally.shortRuns) {
      runs += lane[l];
    }
    if (runs != 0) {
      AddRunBits(&bits, l, runs);
    }
  }
  if (tally.scan.started && tally.scan.length != 0) {
    AddRunBits(&bits, tally.scan.length, 1);
  }
  for (std::uint64_t& b : bits) {
    b += kStreamStartBits;
  }
  return bits;
}

const std::array<std::uint64_t, kExponentClasses>& StreamBits(const rlegolomb_sizer* s) {
  if (!s->streamBitsKnown) {
    s->streamBits = CountStreamBits(s->tally);
    s->streamBitsKnown = true;
  }
  return s->streamBits;
}

// Words with at least this many runs starting in them are counted by run length, a length at a
// time (short runs: halftones, noise), the others a run at a time by their edges.
constexpr int kDenseWordEdges = 12;
// ... and of those, runs up to this long are counted by length, all of the word's at once.
constexpr unsigned kCountedAtOnce = 10;

// The runs of a piece into a tally's tables; for the sizer once for the baseline processor and
// once for one with BMI2 and LZCNT (see cpu.h). Whole words of the piece go here: a word of one
// value adds to the run; a word of a few runs is taken a run at a time, by its edges, as the run
// finder does; a word of many short runs by length (below). The rest of the piece goes through the
// run finder.
template <typename Tally>
[[gnu::always_inline]] inline void CountRunsBody(Tally* s, const std::uint8_t* in,
                                                 std::size_t size) {
  constexpr std::size_t kLanes = std::tuple_size_v<decltype(s->shortRuns)>;
  constexpr std::uint64_t kShort = std::tuple_size_v<typename decltype(s->shortRuns)::value_type>;
  std::size_t next = 0;
  std::size_t lane = 0;
  const auto count = [s, &lane](std::uint64_t length) {
    if (length < kShort) {
      ++s->shortRuns[lane][length];
      lane = (lane + 1) % kLanes;
    } else {
      AddRunBits(&s->longBits, length, 1);
    }
  };
  RunScan* const scan = &s->scan;
  if (!scan->started && size != 0) {
    StartScanAt(scan, in[0]);
  }
  if (scan->started && scan->wordBits == 0) {
    std::uint64_t value = scan->value;
    std::uint64_t length = scan->length;
    while (size - next >= 8) {
      const std::uint64_t word = LoadBigEndian(in + next);
      const std::uint64_t bits = word ^ (0 - value);  // the current run's bits are 0
      next += 8;
      if (bits == 0) {
        length += 64;
        continue;
      }
      // Bit j: stream bit j starts a run (reversed, first bit lowest).
      const std::uint64_t edges = ReverseBits(bits ^ (bits >> 1));
      value = word & 1;
      if (std::popcount(edges) < kDenseWordEdges) {
        std::uint64_t left = edges;
        std::uint64_t start = 0;
        while (left != 0) {
          const auto at = static_cast<std::uint64_t>(std::countr_zero(left));
          left &= left - 1;
          count(length + (at - start));
          length = 0;
          start = at;
        }
        length += 64 - start;
        continue;
      }
      // Many short runs: the run carried in ends at the first edge, the last one goes on; those
      // between two edges of the word are counted by length at once for lengths up to
      // kCountedAtOnce (a run of length L starts at an edge with the next edge L bits on and none
      // between), and one by one beyond.
      const auto first = static_cast<std::uint64_t>(std::countr_zero(edges));
      const auto last = static_cast<std::uint64_t>(63 - std::countl_zero(edges));
      count(length + first);
      length = 64 - last;
      std::uint64_t noEdgeYet = edges;  // edges with no edge in the L - 1 bits after them
      for (unsigned run = 1; run <= kCountedAtOnce; ++run) {
        s->shortRuns[run % kLanes][run] +=
            static_cast<std::uint64_t>(std::popcount(noEdgeYet & (edges >> run)));
        noEdgeYet &= ~(edges >> run);
      }
      // The longer ones: edges with none in the kCountedAtOnce bits after them, but the last.
      for (std::uint64_t longer = noEdgeYet & ~(std::uint64_t{1} << last); longer != 0;
           longer &= longer - 1) {
        const auto at = static_cast<std::uint64_t>(std::countr_zero(longer));
        const std::uint64_t after = edges & ~((std::uint64_t{2} << at) - 1);
        count(static_cast<std::uint64_t>(std::countr_zero(after)) - at);
      }
    }
    scan->value = value;
    scan->length = length;
  }
  ScanRuns(scan, in, &next, size, [&count](std::uint64_t length) {
    count(length);
    return true;
  });
}

template <typename Tally>
void CountRunsBaseline(Tally* s, const std::uint8_t* in, std::size_t size) {
  CountRunsBody(s, in, size);
}

template <typename Tally>
RLEGOLOMB_TARGET_BMI void CountRunsBmi(Tally* s, const std::uint8_t* in, std::size_t size) {
  CountRunsBody(s, in, size);
}

// A tally for a small input, on the stack: one lane of short runs below 256 bits, the longer ones
// (at most one per 32 input bytes) costed at once. The same steps as the sizer's, without
// allocating, clearing and adding up 128 KiB of tables for a few hundred bytes.
using SmallTally = RunTally<256, 1>;

}  // namespace

void TallyRunsFrom(SizerTally* tally, const std::uint8_t* in, std::size_t size,
                   std::uint64_t from) {
  RunScan* const scan = &tally->scan;
  std::size_t next = static_cast<std::size_t>(from >> 3);
  const auto skip = static_cast<int>(from & 7);
  *scan = RunScan{};
  scan->started = true;
  scan->value = (in[next] >> (7 - skip)) & 1u;
  scan->firstValue = static_cast<int>(scan->value);
  const bool bmi = HasBitManipulation();
  if (skip != 0) {
    // The rest of the byte's word first, so that the rest of the input starts at a whole byte
    // (the tally's word loop takes whole words).
    LoadWord(scan, in, &next, size);
    scan->word <<= skip;
    scan->wordBits -= skip;
    if (bmi) {
      CountRunsBmi(tally, in + next, 0);
    } else {
      CountRunsBaseline(tally, in + next, 0);
    }
  }
  if (bmi) {
    CountRunsBmi(tally, in + next, size - next);
  } else {
    CountRunsBaseline(tally, in + next, size - next);
  }
}

void TallyRun(SizerTally* tally, std::uint64_t length) {
  if (length < tally->shortRuns[0].size()) {
    ++tally->shortRuns[0][length];
  } else {
    AddRunBits(&tally->longBits, length, 1);
  }
}

void AddTally(SizerTally* into, const SizerTally& from) {
  for (std::size_t c = 0; c < into->longBits.size(); ++c) {
    into->longBits[c] += from.longBits[c];
  }
  for (std::size_t lane = 0; lane < into->shortRuns.size(); ++lane) {
    for (std::size_t l = 0; l < into->shortRuns[lane].size(); ++l) {
      into->shortRuns[lane][l] += from.shortRuns[lane][l];
    }
  }
}

int ChooseKOfTally(const SizerTally& tally) {
  return SmallestClass(CountStreamBits(tally));
}

int ChooseKOfSmall(const std::uint8_t* in, std::size_t size) {
  SmallTally tally;
  if (HasBitManipulation()) {
    CountRunsBmi(&tally, in, size);
  } else {
    CountRunsBaseline(&tally, in, size);
  }
  return SmallestClass(CountStreamBits(tally));
}

}  // namespace rlegolomb

extern "C" {

rlegolomb_sizer* rlegolomb_sizer_create(void) {
  // Value-initialised: its tables start at zero.
  return new (std::nothrow) rlegolomb_sizer();
}

void rlegolomb_sizer_free(rlegolomb_sizer* s) {
  delete s;
}

void rlegolomb_sizer_reset(rlegolomb_sizer* s) {
  if (s == nullptr) {
    return;
  }
  s->tally.scan = rlegolomb::RunScan{};
  s->tally.longBits.fill(0);
  for (auto& lane : s->tally.shortRuns) {
    lane.fill(0);
  }
  s->inputBytes = 0;
  s->streamBitsKnown = false;
}

rlegolomb_status rlegolomb_sizer_update(rlegolomb_sizer* s, const void* src, size_t src_size) {
  if (s == nullptr || (src == nullptr && src_size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(src);
  if (s->bitManipulation) {
    rlegolomb::CountRunsBmi(&s->tally, bytes, src_size);
  } else {
    rlegolomb::CountRunsBaseline(&s->tally, bytes, src_size);
  }
  s->inputBytes += src_size;
  s->streamBitsKnown = false;
  return RLEGOLOMB_MORE;
}

uint64_t rlegolomb_sizer_stream_bits(const rlegolomb_sizer* s, int k) {
  if (s == nullptr || k < 0 || k > 255) {
    return 0;
  }
  return rlegolomb::StreamBits(s)[static_cast<std::size_t>(rlegolomb::ExponentClass(k))];
}

uint64_t rlegolomb_sizer_stream_bytes(const rlegolomb_sizer* s, int k) {
  return rlegolomb::StreamBytes(rlegolomb_sizer_stream_bits(s, k));
}

int rlegolomb_sizer_choose_k(const rlegolomb_sizer* s) {
  return s == nullptr ? -1 : rlegolomb::SmallestClass(rlegolomb::StreamBits(s));
}

uint64_t rlegolomb_sizer_input_bytes(const rlegolomb_sizer* s) {
  return s == nullptr ? 0 : s->inputBytes;
}

}  // extern "C"
