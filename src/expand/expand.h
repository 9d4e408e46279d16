// The RLE-Golomb decoder: turns a run-length coded bit stream back into its bits.
#pragma once

#include "bitfile/bitfile.h"
#include "format/format.h"  // kCompressionName, the method's name

// Reads the whole stream from `input` (opened for reading) and writes the expanded bits to `output`
// (opened for writing). The stream is: an 8-bit exponent k (m = 2^k, wrapping in 32 bits), the
// 1-bit value of the first run, then one code per run until the file ends: a unary quotient q (q
// one-bits and a zero-bit) and a remainder field of k bits under the bit file's width rule (k = 0
// reads 32). Each run has length q*m + r in wrapping 32-bit arithmetic; a length of 0 or below (as
// a signed value) writes nothing, but every decoded run switches the bit value.
//
// The stream ends where the input ends: a quotient that runs into the end ends the expansion, and a
// run whose remainder is cut off by the end is dropped. A read error ends it the same way; the
// caller asks InputFailed to tell the two apart. `argumentCount` and `arguments` are the
// command-line arguments after the two file names; they are ignored. Closes neither file.
void ExpandFile(BitFile* input, BitFile* output, int argumentCount, char** arguments);
