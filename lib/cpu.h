// What the processor offers beyond the baseline that the hot loops can use: asked once per
// process, so that one build runs everywhere and takes the faster loops where they are there.
#pragma once

namespace rlegolomb {

struct ProcessorFeatures {
  // BMI1, BMI2, LZCNT, POPCNT, PCLMUL and SSSE3: shifts by a register without the CL register
  // (shlx, shrx), a count of leading zeros in one instruction that is defined for 0, bit deposit
  // and extract, a count of ones in one instruction, carry-less multiplication, byte shuffles.
  bool bitManipulation;
  // ... and, beyond that, bit deposit and extract (pdep, pext) that take a few cycles: on every
  // such processor but AMD's before family 19h (and Hygon's), which run them as microcode, 100
  // times slower.
  bool fastBitDeposit;
  // AVX2, with the system saving the 256-bit registers: byte shuffles and shifts 32 bytes at once.
  bool vectors256;
};

// The features of this processor, found on the first call (a few cpuid instructions, each of
// which may trap to a hypervisor) and kept for the process: later calls read them, from any thread.
const ProcessorFeatures& Processor();

inline bool HasBitManipulation() {
  return Processor().bitManipulation;
}

inline bool HasFastBitDeposit() {
  return Processor().fastBitDeposit;
}

inline bool HasVectors256() {
  return Processor().vectors256;
}

}  // namespace rlegolomb

// The loops compiled a second time for such processors (the general loops on 32- and 64-bit x86),
// and the k = 1 loops, which need the 64-bit forms of bit deposit and extract (x86-64 only).
#if defined(__x86_64__) || defined(__i386__)
#define RLEGOLOMB_TARGET_BMI __attribute__((target("bmi,bmi2,lzcnt,popcnt,pclmul,ssse3")))
#define RLEGOLOMB_HAS_TARGET_BMI 1
#define RLEGOLOMB_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define RLEGOLOMB_TARGET_BMI
#define RLEGOLOMB_HAS_TARGET_BMI 0
#endif
#if defined(__x86_64__)
#define RLEGOLOMB_HAS_ONE_BIT_LOOPS 1
#else
#define RLEGOLOMB_HAS_ONE_BIT_LOOPS 0
#endif
