// The decoding loop a bit at a time through the bit file's operations, and the choice of path.
#include "expand/expand.h"

#include <cstdint>

#include "format.h"

void ExpandFile(BitFile* input, BitFile* output) {
#if defined(RLEG_FORCE_SIMPLE_PATH)
  ExpandFileSimple(input, output);
#elif defined(RLEG_THREADS) && defined(RLEG_WRITER_THREAD)
  ExpandFileWithThreads(input, output, true, 0);
#elif defined(RLEG_THREADS)
  ExpandFileWithThreads(input, output, false, 0);
#elif defined(RLEG_WRITER_THREAD)
  ExpandFileOverlapped(input, output);
#else
  ExpandFileFast(input, output);
#endif
}

void ExpandFileSimple(BitFile* input, BitFile* output) {
  const std::uint32_t k = InputBits(input, kHeaderBits);
  const std::uint32_t m = RunUnit(k);
  int bit = InputBit(input);
  for (;;) {
    if (InputEnded(input)) {
      return;
    }
    // Unary quotient. Past the end every bit is a 1, so a quotient that reaches the end never
    // closes: the expansion ends there.
    std::uint32_t q = 0;
    while (InputBit(input) != 0) {
      if (InputEnded(input)) {
        return;
      }
      ++q;
    }
    // The run length wraps in 32 bits; read as signed, 0 or below writes nothing.
    const std::uint32_t length = q * m + InputBits(input, static_cast<int>(k));
    if (InputEnded(input)) {
      return;  // The remainder was cut off by the end: this run is dropped.
    }
    const auto signedLength = static_cast<std::int32_t>(length);
    for (std::int32_t written = 0; written < signedLength; ++written) {
      OutputBit(output, bit);
    }
    bit = bit == 0 ? 1 : 0;
  }
}
