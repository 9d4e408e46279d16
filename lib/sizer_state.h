// The sizer record, and the tally of runs by length that it shares with the one-shot choice of k.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "code_rules.h"
#include "cpu.h"
#include "run_scan.h"

namespace rlegolomb {

// Runs shorter than kShortRuns are counted by length and costed once per length at the end, so
// the common short run costs one increment instead of 64 code sizes; longer runs, at most one per
// kShortRuns bits of input, are costed at once. Successive runs count into kLanes tables in turn:
// runs of the same length follow one another often (halftones: 1, 1, 2, 1), and incrementing one
// counter again and again waits each time for the store before.
template <std::size_t kShortRuns, std::size_t kLanes>
struct RunTally {
  RunScan scan = {};
  // Per exponent class: the bits of the long runs' codes so far.
  std::array<std::uint64_t, kExponentClasses> longBits = {};
  // Short runs so far, by length.
  std::array<std::array<std::uint64_t, kShortRuns>, kLanes> shortRuns = {};
};

// The sizer's: 128 KiB of tables, of which the short lengths in use stay in the first-level cache.
using SizerTally = RunTally<4096, 4>;

// The k of the smallest stream of in[0, size), as rlegolomb_sizer_choose_k gives it, for inputs of
// up to kSmallInputBytes bytes: the same tally, small enough for the stack.
inline constexpr std::size_t kSmallInputBytes = 4096;
int ChooseKOfSmall(const std::uint8_t* in, std::size_t size);

// Tallies of parts of one input, added up, for choosing k on several threads.
// Tallies the runs of in[0, size) from bit `from` on (where a run starts; from < 8 * size) that end
// inside it; the run that reaches the end is left in tally->scan (its value and length). The
// tables add to what they hold.
void TallyRunsFrom(SizerTally* tally, const std::uint8_t* in, std::size_t size, std::uint64_t from);
// Tallies one run of `length` bits.
void TallyRun(SizerTally* tally, std::uint64_t length);
// Adds the runs `from` has tallied to `into` (its scan is left out).
void AddTally(SizerTally* into, const SizerTally& from);
// The k of the smallest stream of the runs tallied, tally.scan's run (when started) the last one,
// as rlegolomb_sizer_choose_k gives it.
int ChooseKOfTally(const SizerTally& tally);

}  // namespace rlegolomb

struct rlegolomb_sizer {
  // The processor has BMI2 and LZCNT: the run loop compiled for them runs. Kept by reset.
  bool bitManipulation = rlegolomb::HasBitManipulation();
  std::uint64_t inputBytes = 0;
  rlegolomb::SizerTally tally;
  // The stream sizes of all input so far, worked out once for the questions that follow an
  // update (costing the short runs takes 64 sizes per length).
  mutable std::array<std::uint64_t, rlegolomb::kExponentClasses> streamBits = {};
  mutable bool streamBitsKnown = false;
};

// About 129 KiB, as the public header says.
static_assert(sizeof(rlegolomb_sizer) > 128 * 1024 && sizeof(rlegolomb_sizer) < 130 * 1024);
