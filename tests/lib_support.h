// What the library's tests and fuzz targets share: a driver that feeds a decoder or an encoder
// through input pieces and output rooms of chosen sizes, checking the rules of every call, and
// random streams of any k built field by field together with their expansions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "rlegolomb.h"
#include "test_support.h"

// How an input is cut into pieces and the output into rooms: the size of each next piece and of
// each next room. A size may be 0; the driver turns the fourth 0 in a row into 1, so that a run
// of calls always ends.
struct Cuts {
  std::function<std::size_t()> piece;
  std::function<std::size_t()> room;
  // The last piece goes with final = 0, then an empty piece with final = 1.
  bool finalApart = false;
};

// Every piece `piece` bytes and every room `room` bytes.
Cuts EvenCuts(std::size_t piece, std::size_t room);
// Sizes drawn from `seed`: 0 and 1 often, a few bytes, and up to 4 KiB.
Cuts RandomCuts(std::uint64_t seed);

// What a run of calls gave.
struct Transfer {
  Bytes output;
  rlegolomb_status status = RLEGOLOMB_MORE;  // of the last call
  std::size_t calls = 0;
  // The first broken rule of the calls, and at which call; empty when there was none.
  std::string fault;
};

// Feeds `input` to the object a piece at a time as `cuts` says (final = 1 with the last piece),
// calling again with a new room at the end of the output so far while the status is MORE and
// the piece is not used up (or the piece is the final one), until DONE or an error. Every call
// must keep these rules, else `fault` tells the first one broken:
//   the positions only move forward and stay within their sizes; nothing is written before
//   out.pos or past out.size; MORE comes only with the room full or, not final, the piece used
//   up; DONE only with final; no ERROR_ARGUMENT or ERROR_MEMORY;
//   for the decoder, a non-final piece used up with room left has given every whole byte of the
//   expansion so far (decoder_bits / 8).
// After the last call, one more with input and room must give the same status and write nothing.
// The pieces alternate between a src at the input's start with pos at the piece, and a src at the
// piece with pos 0.
// A decoder placed by rlegolomb_decoder_seek gives the expansion from byte `startByte` on.
Transfer DecodeInPieces(rlegolomb_decoder* d, const Bytes& stream, Cuts& cuts,
                        std::uint64_t startByte = 0);
Transfer EncodeInPieces(rlegolomb_encoder* e, const Bytes& input, Cuts& cuts);

// A stream at header value k and what it expands to.
struct RandomStream {
  Bytes stream;
  Bytes expansion;
  std::uint64_t bits = 0;  // the expansion's length before the zero fill
};

// A stream of `codes` run codes at header value k (0..255), drawn from `seed`: mostly short runs,
// some of hundreds and thousands of bits; zero-length and negative codes; quotients that carry
// nothing (k >= 32), that wrap (k = 26..31) or that take the place of the remainder (k = 0). It
// ends cleanly, in a quotient that runs into the end, or in a code whose remainder is cut off.
RandomStream MakeRandomStream(int k, std::uint64_t seed, int codes);
