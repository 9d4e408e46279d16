// What the processor offers beyond the baseline that the hot loops can use: a check at run time,
// so that one build runs everywhere and takes the faster loops where they are there.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace rlegolomb {

// True when the processor has BMI1, BMI2 and LZCNT: shifts by a register without the CL
// register (shlx, shrx), a count of leading zeros in one instruction that is defined for 0.
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
  return bmi && lzcnt;
#else
  return false;
#endif
}

}  // namespace rlegolomb

// The loops compiled a second time for such processors.
#if defined(__x86_64__) || defined(__i386__)
#define RLEGOLOMB_TARGET_BMI __attribute__((target("bmi,bmi2,lzcnt")))
#define RLEGOLOMB_HAS_TARGET_BMI 1
#else
#define RLEGOLOMB_TARGET_BMI
#define RLEGOLOMB_HAS_TARGET_BMI 0
#endif
