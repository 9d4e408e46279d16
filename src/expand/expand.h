// The RLE-Golomb decoder: turns a run-length coded bit stream back into its bits.
#pragma once

#include "bitfile/bitfile.h"

// Reads the whole stream from `input` (opened for reading) and writes the expanded bits to `output`
// (opened for writing). The stream is: an 8-bit exponent k (m = 2^k, wrapping in 32 bits), the
// 1-bit value of the first run, then one code per run until the file ends: a unary quotient q (q
// one-bits and a zero-bit) and a remainder field of k bits under the bit file's width rule (k = 0
// reads 32). Each run has length q*m + r in wrapping 32-bit arithmetic; a length of 0 or below (as
// a signed value) writes nothing, but every decoded run switches the bit value.
//
// The stream ends where the input ends: a quotient that runs into the end ends the expansion, and a
// run whose remainder is cut off by the end is dropped. A read error ends it the same way; the
// caller asks InputFailed to tell the two apart. Closes neither file.
//
// Runs ExpandFileWithThreads on every processor available to the process, with the writer thread
// (or without it in a build with RLEG_WRITER_THREAD off); ExpandFileOverlapped (ExpandFileFast
// without the writer thread) in a build with RLEG_THREADS off; ExpandFileSimple in a build with
// RLEG_FORCE_SIMPLE_PATH.
void ExpandFile(BitFile* input, BitFile* output);

// The same expansion a bit at a time through InputBit, InputBits and OutputBit: the reference
// that ExpandFileFast must match in every observable.
void ExpandFileSimple(BitFile* input, BitFile* output);

// The same expansion in blocks: input read a block at a time into a 64-bit bit container, runs
// written as whole words and byte fills into a block handed to the output stream whole. Same
// output bytes, same end and error state of `input` afterwards, and the same pending partial byte
// left in `output` for CloseBitFile. Memory use is fixed. A write the stream refuses ends the
// process as OutputBit does, after a prefix of the right bytes has reached the file.
void ExpandFileFast(BitFile* input, BitFile* output);

// ExpandFileFast with the writing of full blocks on a second thread, overlapped with the
// decoding of the next: the same calls of the output stream in the same order, so the same file,
// the same prefix and fatal message after a refused write, the same state of both records.
void ExpandFileOverlapped(BitFile* input, BitFile* output);

// ExpandFileOverlapped (with `overlapped`) or ExpandFileFast (without) with the decoder on
// `threads` threads (0: one per processor available to the process), in blocks of a few MiB:
// the same observables. A regular input of under a MiB is expanded on one thread, with no thread
// call, as the paths above do.
void ExpandFileWithThreads(BitFile* input, BitFile* output, bool overlapped, int threads);
