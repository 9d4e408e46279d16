// The processor's features, asked once per process.
#include "cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace rlegolomb {
namespace {

ProcessorFeatures AskProcessor() {
  ProcessorFeatures features{false, false, false};
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  // The vendor's name comes in ebx, edx, ecx: "Auth" "enti" "cAMD", "Hygo" "nGen" "uine".
  const bool amd = ebx == 0x68747541u && edx == 0x69746e65u && ecx == 0x444d4163u;
  const bool hygon = ebx == 0x6f677948u && edx == 0x6e65476eu && ecx == 0x656e6975u;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  const bool popcnt = (ecx & (1u << 23)) != 0;
  const bool pclmul = (ecx & (1u << 1)) != 0;
  // The system saves the SSE and AVX registers (XCR0 bits 1 and 2) when OSXSAVE is set.
  bool ymmSaved = false;
  if ((ecx & (1u << 27)) != 0) {
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    ymmSaved = (xcr0Low & 6u) == 6u;
  }
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const unsigned base = (eax >> 8) & 0xF;
  const unsigned family = base == 0xF ? base + ((eax >> 20) & 0xFF) : base;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  const bool bmi = (ebx & (1u << 3)) != 0 && (ebx & (1u << 8)) != 0;
  features.vectors256 = ymmSaved && (ebx & (1u << 5)) != 0;
  if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  const bool lzcnt = (ecx & (1u << 5)) != 0;
  features.bitManipulation = bmi && lzcnt && popcnt && pclmul && ssse3;
  features.fastBitDeposit = features.bitManipulation && ((!amd && !hygon) || family >= 0x19);
#endif
  return features;
}

}  // namespace

const ProcessorFeatures& Processor() {
  // Written once, by the first caller (the initialisation of a function-local static is
  // thread-safe); read only after that.
  static const ProcessorFeatures features = AskProcessor();
  return features;
}

}  // namespace rlegolomb
