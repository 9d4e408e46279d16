// The decoder's table of streams, shared by the programs' tests and the library's.
#include "stream_table.h"

const std::vector<StreamCase>& StreamTable() {
  static const std::vector<StreamCase> cases = {
      {"worked example: F8 at k = 34, a run split", {0x22, 0xB0, 0x98}, {0xF8}},
      {"worked example: F8 at k = 1", {0x01, 0xED}, {0xF8}},
      {"k2 two runs then the end", {0x02, 0xCB}, {0xF8}},
      {"k1 fill starts a code cut off by the end", {0x01, 0x58}, {0x18}},
      {"k3 input ends exactly after the last code", {0x03, 0x48, 0x71}, {0x00, 0x20, 0x00, 0x00}},
      {"k0 has a 32-bit remainder", {0x00, 0xC0, 0x00, 0x00, 0x00, 0x40}, {0xE0}},
      {"empty input", {}, {}},
      {"one byte, zero", {0x00}, {}},
      {"one byte, ones", {0xFF}, {}},
      {"fill forms zero-length runs", {0x02, 0x80}, {}},
      {"zero-length runs then a quotient into the end", {0x01, 0x00, 0xFF}, {0x80}},
      {"k32: m is 0 and the remainder 32 bits", {0x20, 0xE0, 0x00, 0x00, 0x00, 0x50}, {0xF8}},
      {"k33: m is 0 and the remainder 1 bit", {0x21, 0xF4}, {0x80}},
      {"k31: q=1 is negative, q=2 wraps to 0",
       {0x1F, 0xC0, 0x00, 0x00, 0x01, 0x70, 0x00, 0x00, 0x00, 0x30},
       {0x00}},
      {"k255: m is 0, the remainder 31 bits",
       BuildStream([](BitStream* s) {
         PutBits(s, 255, 8);  // k
         PutBits(s, 0, 1);    // first value 0
         PutUnary(s, 5);      // q = 5, multiplied by m = 0
         PutBits(s, 9, 31);   // r = 9: nine zeros
         PutUnary(s, 0);      // q = 0
         PutBits(s, 3, 31);   // r = 3: three ones
       }),
       {0x00, 0x70}},
      {"k30: 2*m is negative and 4*m wraps to 0",
       BuildStream([](BitStream* s) {
         PutBits(s, 30, 8);  // k, m = 2^30
         PutBits(s, 1, 1);   // first value 1
         PutUnary(s, 2);     // q = 2: L = 2^31, negative
         PutBits(s, 0, 30);  // r = 0: nothing written, value switches to 0
         PutUnary(s, 4);     // q = 4: q*m wraps to 0
         PutBits(s, 2, 30);  // r = 2: two zeros
         PutUnary(s, 0);     // q = 0
         PutBits(s, 1, 30);  // r = 1: one 1
       }),
       {0x20}},
      {"a zero-length run still switches the value",
       BuildStream([](BitStream* s) {
         PutBits(s, 1, 8);  // k = 1
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 0);    // q = 0
         PutBits(s, 0, 1);  // r = 0: no ones, value switches to 0
         PutUnary(s, 0);    // q = 0
         PutBits(s, 1, 1);  // r = 1: one zero
         PutBits(s, 7, 3);  // 1-bits: a quotient that meets the end
       }),
       {0x00}},
      {"a quotient running into the end ends the expansion",
       BuildStream([](BitStream* s) {
         PutBits(s, 2, 8);  // k = 2
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 1);    // q = 1
         PutBits(s, 1, 2);  // r = 1: five ones
         PutBits(s, 7, 3);  // 1-bits to the end of the byte
       }),
       {0xF8}},
      {"a remainder cut off by the end drops its run",
       BuildStream([](BitStream* s) {
         PutBits(s, 8, 8);     // k = 8
         PutBits(s, 1, 1);     // first value 1
         PutUnary(s, 0);       // q = 0
         PutBits(s, 0x3F, 6);  // the first 6 of 8 remainder bits
       }),
       {}},
      {"a long run crosses bytes",
       BuildStream([](BitStream* s) {
         PutBits(s, 4, 8);  // k = 4
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 3);    // q = 3
         PutBits(s, 5, 4);  // r = 5: 53 ones
         PutUnary(s, 0);    // q = 0
         PutBits(s, 3, 4);  // r = 3: three zeros
       }),
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8}},
  };
  return cases;
}
