// What the processor offers beyond the baseline that the hot loops can use: a check at run time,
// so that one build runs everywhere and takes the faster loops where they are there.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace rlegolomb {

// True when the processor has BMI1, BMI2, LZCNT and POPCNT: shifts by a register without the CL
// register (shlx, shrx), a count of leading zeros in one instruction that is defined for 0, bit
// deposit and extract, a count of ones in one instruction, carry-less multiplication, byte
// shuffles.
inline bool HasBitManipulation() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  const bool bmi = (ebx & (1u << 3)) != 0 && (ebx & (1u << 8)) != 0;
  if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  const bool lzcnt = (ecx & (1u << 5)) != 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  const bool popcnt = (ecx & (1u << 23)) != 0;
  const bool pclmul = (ecx & (1u << 1)) != 0;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  return bmi && lzcnt && popcnt && pclmul && ssse3;
#else
  return false;
#endif
}

// True when, beyond that, bit deposit and extract (pdep, pext) take a few cycles: on every such
// processor but AMD's before family 19h (and Hygon's), which run them as microcode, 100 times
// slower.
inline bool HasFastBitDeposit() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!HasBitManipulation() || __get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  // The vendor's name comes in ebx, edx, ecx: "Auth" "enti" "cAMD", "Hygo" "nGen" "uine".
  const bool amd = ebx == 0x68747541u && edx == 0x69746e65u && ecx == 0x444d4163u;
  const bool hygon = ebx == 0x6f677948u && edx == 0x6e65476eu && ecx == 0x656e6975u;
  if (!amd && !hygon) {
    return true;
  }
  __get_cpuid(1, &eax, &ebx, &ecx, &edx);
  const unsigned base = (eax >> 8) & 0xF;
  const unsigned family = base == 0xF ? base + ((eax >> 20) & 0xFF) : base;
  return family >= 0x19;
#else
  return false;
#endif
}

}  // namespace rlegolomb

// The loops compiled a second time for such processors.
#if defined(__x86_64__) || defined(__i386__)
#define RLEGOLOMB_TARGET_BMI __attribute__((target("bmi,bmi2,lzcnt,popcnt,pclmul,ssse3")))
#define RLEGOLOMB_HAS_TARGET_BMI 1
#else
#define RLEGOLOMB_TARGET_BMI
#define RLEGOLOMB_HAS_TARGET_BMI 0
#endif
