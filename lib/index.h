// What the decoder and the index share inside the library: the decoder's entry points that the
// index uses to start at a checkpoint, and the index's entry for decoders that build an index or
// drop output after a seek.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder_state.h"
#include "rlegolomb.h"

namespace rlegolomb {

// decoder.cpp: a new stream (the settings kept, any index being built dropped); one decoding call
// on the record as it stands (StartCodesAt, in decoder_state.h, starts one in mid-stream).
void ResetDecoder(rlegolomb_decoder* d);
rlegolomb_status DecodeCall(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in, bool final);

// index.cpp: rlegolomb_decode for a decoder that builds an index or still has output to drop.
rlegolomb_status DecodeIndexed(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in,
                               bool final);
void FreeIndexBuild(IndexBuild* build);

// index.cpp: the index of an encoder's stream, made by decoding the stream as it comes out (the
// bytes a call wrote, with the call's status: DONE ends the stream); gives the status the call is
// to return (ERROR_MEMORY when the index cannot grow).
struct EncoderIndex;
rlegolomb_status IndexEncoderOutput(EncoderIndex* index, const std::uint8_t* bytes,
                                    std::size_t size, rlegolomb_status status);
void FreeEncoderIndex(EncoderIndex* index);

}  // namespace rlegolomb
