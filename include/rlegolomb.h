/* rlegolomb: the RLE_Golomb bit-stream codec.
 *
 * A stream describes a bit string as runs of equal bits whose values alternate. It holds an 8-bit
 * exponent k (m = 2^k, in wrapping 32-bit arithmetic), the 1-bit value of the first run, then one
 * Rice code per run until the stream ends: a unary quotient q (q one-bits and a zero-bit) and a
 * remainder r of ((k - 1) AND 31) + 1 bits. A run has q*m + r bits (32-bit wrapping; 0 or below,
 * as a signed value, writes nothing) and every code switches the value. Bits are packed most
 * significant first; the expansion's last byte is completed with zero bits. There is no length
 * field and no end marker: the stream ends where its bytes end.
 *
 * Using it
 *   One-shot, on whole buffers:
 *     rlegolomb_expanded_bits(src, n)        the exact size of the expansion, without writing it;
 *     rlegolomb_expand(src, n, dst, cap, &size);
 *     rlegolomb_compress(src, n, k, dst, cap, &size)   with k = -1 to choose k;
 *     rlegolomb_compress_bound(n, k)          a dst capacity that always suffices.
 *   Streaming, for files, sockets and pipes: a decoder (or an encoder) object, fed with an input
 *   piece and an output room at a time, in the style of zlib's and zstd's stream calls:
 *
 *     rlegolomb_decoder* d = rlegolomb_decoder_create();
 *     rlegolomb_decoder_set_limit(d, 1u << 30);          optional: refuse expansions over 1 GiB
 *     for each input piece (final = 1 with the last one, which may be empty):
 *       rlegolomb_in in = {piece, piece_size, 0};
 *       do {
 *         rlegolomb_out out = {buffer, sizeof buffer, 0};
 *         status = rlegolomb_decode(d, &out, &in, final);
 *         write out.pos bytes of buffer;
 *       } while (status == RLEGOLOMB_MORE && (in.pos < in.size || final));
 *       status < 0: an error (rlegolomb_status_text); DONE: the whole expansion has been given.
 *     rlegolomb_decoder_free(d);
 *
 *   docs/API.md has whole programs.
 *
 * Guarantees
 *   - No function prints, exits, aborts or keeps global mutable state: any number of objects can
 *     be used at once on different threads (one object by one thread at a time), and the one-shot
 *     calls are reentrant. What the library keeps for the process is written once, on first use,
 *     and only read after that: the processor's features, and the decoder's tables for short codes.
 *   - Every input is valid data; no byte sequence makes a call fail or read out of bounds.
 *   - Memory is fixed per object, whatever the stream: a decoder and an encoder take under 256
 *     bytes, a sizer about 129 KiB (run lengths tallied by length). Streams with k = 1..6 also use
 * a 32 KiB table per k, built by the first decoder that needs it and shared by all (at most 192 KiB
 * per process). Nothing is allocated after create. The one-shot calls keep their object on the
 * stack, but rlegolomb_choose_k (and rlegolomb_compress with k = -1) on more than 4 KiB of input,
 * which allocates a sizer for its length.
 *   - Buffers belong to the caller; the library keeps no pointer to them between calls.
 */
#ifndef RLEGOLOMB_H
#define RLEGOLOMB_H

#include <stddef.h>
#include <stdint.h>

#if defined(RLEGOLOMB_STATIC_DEFINE)
#define RLEGOLOMB_API
#elif defined(RLEGOLOMB_BUILDING)
#define RLEGOLOMB_API __attribute__((visibility("default")))
#else
#define RLEGOLOMB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define RLEGOLOMB_VERSION_MAJOR 0
#define RLEGOLOMB_VERSION_MINOR 2
#define RLEGOLOMB_VERSION_PATCH 0

/* The method's name, as programs announce it. */
#define RLEGOLOMB_METHOD_NAME "RLE_Golomb"

/* The library's version, "MAJOR.MINOR.PATCH". */
RLEGOLOMB_API const char* rlegolomb_version(void);

/* An input piece: the call reads src[pos..size) and advances pos past what it consumed. */
typedef struct rlegolomb_in {
  const void* src;
  size_t size;
  size_t pos;
} rlegolomb_in;

/* An output room: the call writes dst[pos..size) and advances pos past what it wrote. Bytes of
 * dst between the new pos and size may have been overwritten too (with bytes of no meaning). */
typedef struct rlegolomb_out {
  void* dst;
  size_t size;
  size_t pos;
} rlegolomb_out;

/* In C++ the enum gets int as its fixed type, as C gives it: any int a C caller passes (such as a
 * status from a newer version) is then a value of the type, not undefined behaviour. */
#ifdef __cplusplus
#define RLEGOLOMB_ENUM_INT : int
#else
#define RLEGOLOMB_ENUM_INT
#endif

typedef enum rlegolomb_status RLEGOLOMB_ENUM_INT {
  RLEGOLOMB_DONE = 0,            /* the stream is finished and all its output is in out */
  RLEGOLOMB_MORE = 1,            /* stopped: in used up (not final) or out full; call again */
  RLEGOLOMB_ERROR_LIMIT = -1,    /* the output would pass the limit (or dst_capacity) */
  RLEGOLOMB_ERROR_MEMORY = -2,   /* an object could not be allocated */
  RLEGOLOMB_ERROR_ARGUMENT = -3, /* a null object, pos > size, k outside its range */
  RLEGOLOMB_ERROR_INDEX = -4     /* the index is damaged or belongs to another stream */
} rlegolomb_status;

/* A short English text for a status ("done", "output limit exceeded", ...); never null, also for
 * values outside the enum. */
RLEGOLOMB_API const char* rlegolomb_status_text(rlegolomb_status status);

/* ---- Decoding ------------------------------------------------------------------------------- */

typedef struct rlegolomb_decoder rlegolomb_decoder;

/* A decoder at the start of a stream, with no limit; null when memory runs out. */
RLEGOLOMB_API rlegolomb_decoder* rlegolomb_decoder_create(void);
/* Releases a decoder; null is a no-op. */
RLEGOLOMB_API void rlegolomb_decoder_free(rlegolomb_decoder* d);
/* Starts a new stream; keeps the limit. */
RLEGOLOMB_API void rlegolomb_decoder_reset(rlegolomb_decoder* d);
/* Caps the expansion at max_output_bytes bytes (0: no limit). Takes effect for the stream being
 * decoded; a limit below what has already been written ends it at the next call. */
RLEGOLOMB_API void rlegolomb_decoder_set_limit(rlegolomb_decoder* d, uint64_t max_output_bytes);

/* Decodes from in->src + in->pos up to in->size into out->dst + out->pos up to out->size,
 * advancing both pos fields. Whatever part of an unfinished code it has consumed stays inside the
 * decoder, so the caller never holds input back; it can stop anywhere (inside the header, a
 * quotient, a remainder, or a run of 2^31 - 1 bits with a 1-byte output room).
 *
 * final non-zero: in holds the rest of the stream. The stream's end rules apply (a quotient that
 * runs into the end ends the stream, a code whose remainder is cut off is dropped), the last
 * partial byte is completed with zero bits, and DONE comes once all of the expansion is in out;
 * until then MORE, and the caller calls again, still with final set (with more output room).
 *
 * Returns:
 *   DONE   the stream is finished and its whole expansion has been written. Further calls give
 *          DONE and write nothing, until reset.
 *   MORE   in is used up (and final was 0), or out is full; MORE never comes while both input and
 *          output room are left.
 *   ERROR_LIMIT    the expansion would pass the limit: exactly the first `limit` bytes have been
 *          written (over this and earlier calls); it is returned again, writing nothing, until
 * reset. ERROR_ARGUMENT a null pointer, or pos > size in in or out; nothing is read or written. For
 * every way of cutting the input and the output into pieces (of 0 and 1 bytes included), the bytes
 * written are the same. */
RLEGOLOMB_API rlegolomb_status rlegolomb_decode(rlegolomb_decoder* d, rlegolomb_out* out,
                                                rlegolomb_in* in, int final);

/* The length of the expansion in bits so far, before the zero fill: after DONE, the exact length
 * of the whole expansion (its byte count is (bits + 7) / 8). 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_decoder_bits(const rlegolomb_decoder* d);

/* The stream's k (0..255) once the header has been read, else -1 (also for null). */
RLEGOLOMB_API int rlegolomb_decoder_k(const rlegolomb_decoder* d);

/* The run codes decoded so far, zero-length runs and split codes included. 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_decoder_codes(const rlegolomb_decoder* d);

/* One-shot expansion of the whole stream src[0..src_size) into dst[0..dst_capacity).
 * DONE with *dst_size the byte count. ERROR_LIMIT when the expansion needs more than dst_capacity
 * bytes: dst then holds the first dst_capacity bytes and *dst_size is dst_capacity.
 * ERROR_ARGUMENT for a null dst_size, or a null src or dst with a non-zero size. */
RLEGOLOMB_API rlegolomb_status rlegolomb_expand(const void* src, size_t src_size, void* dst,
                                                size_t dst_capacity, size_t* dst_size);

/* The exact length in bits of the expansion of src[0..src_size), before the zero fill, found at
 * decoding speed without writing anything: allocate (bits + 7) / 8 bytes, then expand. 0 for a null
 * src. */
RLEGOLOMB_API uint64_t rlegolomb_expanded_bits(const void* src, size_t src_size);

/* ---- Encoding ------------------------------------------------------------------------------- */

typedef struct rlegolomb_encoder rlegolomb_encoder;

/* An encoder that writes streams with header value k (0..255); null for any other k or when
 * memory runs out. */
RLEGOLOMB_API rlegolomb_encoder* rlegolomb_encoder_create(int k);
/* Releases an encoder; null is a no-op. */
RLEGOLOMB_API void rlegolomb_encoder_free(rlegolomb_encoder* e);
/* Starts a new stream with the same k. */
RLEGOLOMB_API void rlegolomb_encoder_reset(rlegolomb_encoder* e);

/* Compresses in->src[pos..size) into out->dst[pos..size), advancing both. The stream is the one
 * rle-golomb-compress writes for the whole input at this k, however the input and the output are
 * cut into pieces: k, the first input bit (0 for an empty input), one code per run of equal bits
 * (the cheapest code at k; a run longer than one code holds is split into the longest run, a run
 * of length 0 and the rest, again and again), zero bits to the byte.
 * final non-zero: in holds the rest of the input. Returns DONE once the whole stream is in out
 * (then DONE, writing nothing, until reset), MORE when in is used up (not final) or out is full,
 * ERROR_ARGUMENT as rlegolomb_decode does. */
RLEGOLOMB_API rlegolomb_status rlegolomb_encode(rlegolomb_encoder* e, rlegolomb_out* out,
                                                rlegolomb_in* in, int final);

/* The length in bits of the stream written so far, before the zero fill: after DONE, the exact
 * length of the whole stream (its byte count is (bits + 7) / 8). 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_encoder_bits(const rlegolomb_encoder* e);

/* The k (0..63) whose stream of src[0..src_size) is the smallest in bytes, the smaller k on a tie:
 * the k rle-golomb-compress chooses. Any k from 64 up gives the same stream as one below 64 but
 * for the header. -1 for a null src with a non-zero size. */
RLEGOLOMB_API int rlegolomb_choose_k(const void* src, size_t src_size);

/* A dst capacity that no src_size-byte input exceeds at k (0..255), or at any k for k = -1; 0 for
 * any other k. SIZE_MAX when the bound does not fit a size_t. */
RLEGOLOMB_API size_t rlegolomb_compress_bound(size_t src_size, int k);

/* One-shot compression with k 0..255, or -1 to choose it (rlegolomb_choose_k). DONE with
 * *dst_size the stream's size; ERROR_LIMIT when the stream needs more than dst_capacity bytes
 * (dst then holds its first dst_capacity bytes); ERROR_ARGUMENT for a bad k or pointer. */
RLEGOLOMB_API rlegolomb_status rlegolomb_compress(const void* src, size_t src_size, int k,
                                                  void* dst, size_t dst_capacity, size_t* dst_size);

/* ---- Measuring, for choosing k over a stream of pieces --------------------------------------- */

typedef struct rlegolomb_sizer rlegolomb_sizer;

/* A sizer that has seen no input; null when memory runs out. */
RLEGOLOMB_API rlegolomb_sizer* rlegolomb_sizer_create(void);
/* Releases a sizer; null is a no-op. */
RLEGOLOMB_API void rlegolomb_sizer_free(rlegolomb_sizer* s);
/* Forgets all input. */
RLEGOLOMB_API void rlegolomb_sizer_reset(rlegolomb_sizer* s);
/* Takes the next src_size bytes of the input. ERROR_ARGUMENT for a null s, or a null src with a
 * non-zero size; else MORE. */
RLEGOLOMB_API rlegolomb_status rlegolomb_sizer_update(rlegolomb_sizer* s, const void* src,
                                                      size_t src_size);
/* The size in bits (before the zero fill) and in bytes of the stream at k (0..255) of all input
 * so far; 0 for a null s or a bad k. */
RLEGOLOMB_API uint64_t rlegolomb_sizer_stream_bits(const rlegolomb_sizer* s, int k);
RLEGOLOMB_API uint64_t rlegolomb_sizer_stream_bytes(const rlegolomb_sizer* s, int k);
/* The k (0..63) of the smallest stream of all input so far, the smaller on a tie; -1 for null. */
RLEGOLOMB_API int rlegolomb_sizer_choose_k(const rlegolomb_sizer* s);
/* The input bytes taken so far; 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_sizer_input_bytes(const rlegolomb_sizer* s);

/* ---- Threads: all processors on one stream ---------------------------------------------------- *
 *
 * A decoder or an encoder may use several threads on one stream; the bytes are the same for every
 * count, and every rule of the calls above holds (pieces of any size, final, the limit, the bit
 * counts, DONE, reset). A decoder with threads decodes in parallel where a call brings at least
 * RLEGOLOMB_THREAD_MIN_INPUT bytes of input and as much output room: callers that want the threads
 * busy give it pieces of a few MiB and rooms of as many. */

/* How many threads an object may use: 1 (the default) runs on the calling thread alone; 0 uses one
 * per processor available to the process; n > 1 at most n. Returns the count it will use (>= 1), or
 * RLEGOLOMB_ERROR_ARGUMENT for a null object or a negative count. Kept across reset; may be called
 * only at the start of a stream (else ERROR_ARGUMENT). The threads start at the first call that
 * uses them and end with the object (or the next set_threads). If the system refuses a thread (or
 * memory for its buffers), the object works with those it has, down to the calling thread alone.
 * A decoder's threads work on each call's input and room alone and hold nothing of the stream
 * between calls; it keeps 1.5 MiB of output buffers per thread (four of 384 KiB) from its first
 * parallel call until it is freed or given another count. While it builds an index, or drops the
 * output before a seek's offset, it decodes on the calling thread.
 * An encoder with threads takes its input a round at a time: eight segments per thread, each of a
 * size for which the segment and its codes at their worst fit an eighth of RLEGOLOMB_THREAD_MEMORY
 * (340 KiB at k = 1, 144 KiB at k = 5, 28 KiB at the widest codes). It holds the input of a
 * round that is not full between calls (giving MORE, and writing nothing of it, until the round is
 * full or final comes), and keeps its buffers, at most RLEGOLOMB_THREAD_MEMORY per thread, until it
 * is freed or given another count. While it builds an index it runs on the calling thread. */
RLEGOLOMB_API int rlegolomb_decoder_set_threads(rlegolomb_decoder* d, int threads);
RLEGOLOMB_API int rlegolomb_encoder_set_threads(rlegolomb_encoder* e, int threads);

/* The input a decoder call needs for its threads to help, and the memory a thread may take. */
#define RLEGOLOMB_THREAD_MIN_INPUT 131072u
#define RLEGOLOMB_THREAD_MEMORY 8388608u

/* The one-shot calls with a thread count (0: one per processor). Same results as the calls
 * without. */
RLEGOLOMB_API rlegolomb_status rlegolomb_expand_mt(const void* src, size_t src_size, void* dst,
                                                   size_t dst_capacity, size_t* dst_size,
                                                   int threads);
RLEGOLOMB_API rlegolomb_status rlegolomb_compress_mt(const void* src, size_t src_size, int k,
                                                     void* dst, size_t dst_capacity,
                                                     size_t* dst_size, int threads);

/* ---- Random access and integrity: an index beside the stream -------------------------------- *
 *
 * The format has no blocks and no checksum. An index, kept beside a stream (a file NAME.idx), holds
 * a checkpoint every `spacing` bytes of the expansion: where the decoder stands there (the input
 * bit, the run being written and what is left of it), so that decoding can start at any checkpoint
 * without the stream before it; and a CRC-32C of each stretch of `spacing` output bytes, so that an
 * expansion can be checked against what it was when the index was made. An index takes about 40
 * bytes per checkpoint: at the default spacing of 1 MiB, well under 0.1% of any stream. The file
 * format is in docs/FORMAT.md.
 *
 * Typical use: rlegolomb_index_build once (or rlegolomb_decoder_build_index while decoding anyway),
 * rlegolomb_index_save to a file; later rlegolomb_index_load, then rlegolomb_extract for a byte
 * range of a stream in memory, or rlegolomb_decoder_seek and the streaming calls for a file read in
 * pieces. An index is read-only once made: one index can serve any number of threads at once. */

typedef struct rlegolomb_index rlegolomb_index;

/* The spacing of checkpoints when 0 is given: 1 MiB of expansion. */
#define RLEGOLOMB_INDEX_SPACING 1048576u

/* Indexes the whole stream src[0..src_size) with a checkpoint every `spacing` output bytes
 * (0: 1 MiB), at decoding speed (the stream is decoded once, through a buffer of its own). Null
 * when memory runs out or src is null. */
RLEGOLOMB_API rlegolomb_index* rlegolomb_index_build(const void* src, size_t src_size,
                                                     uint64_t spacing);
/* Releases an index; null is a no-op. */
RLEGOLOMB_API void rlegolomb_index_free(rlegolomb_index* idx);
/* The indexed stream's expansion in bits, as rlegolomb_expanded_bits gives it; 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_index_expanded_bits(const rlegolomb_index* idx);
/* The checkpoints held (one per whole spacing of output after the first); 0 for null. */
RLEGOLOMB_API size_t rlegolomb_index_points(const rlegolomb_index* idx);
/* The spacing of the checkpoints in output bytes; 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_index_spacing(const rlegolomb_index* idx);
/* The size in bytes of the stream the index belongs to; 0 for null. */
RLEGOLOMB_API uint64_t rlegolomb_index_stream_size(const rlegolomb_index* idx);

/* The index as bytes (the file format in docs/FORMAT.md): returns the size it needs, and writes it
 * only when dst_capacity suffices (dst may be null to ask). 0 for a null idx. */
RLEGOLOMB_API size_t rlegolomb_index_save(const rlegolomb_index* idx, void* dst,
                                          size_t dst_capacity);
/* An index read back from src[0..src_size); null for anything that is not a whole, undamaged index
 * (its own checksum is checked, and every field against the others), or when memory runs out. */
RLEGOLOMB_API rlegolomb_index* rlegolomb_index_load(const void* src, size_t src_size);

/* Whether idx belongs to the stream src[0..src_size): its size and the CRC-32C of all its bytes.
 * DONE when it does, ERROR_INDEX when not; ERROR_ARGUMENT for a null idx, or a null src with a
 * size. */
RLEGOLOMB_API rlegolomb_status rlegolomb_index_check_stream(const rlegolomb_index* idx,
                                                            const void* src, size_t src_size);

/* Checks out[0..size), the expansion's bytes from byte `offset` on, against the index's checksums:
 * of the stretches of `spacing` bytes, those that lie wholly inside the range (and the last one of
 * the expansion, when the range reaches its end) are checked. Returns the number of the first
 * stretch that differs, its bytes [n * spacing, (n + 1) * spacing) of the expansion; or -1 when all
 * checked stretches agree; -2 for a null idx or a null data with a size. */
RLEGOLOMB_API int64_t rlegolomb_index_verify(const rlegolomb_index* idx, uint64_t offset,
                                             const void* data, size_t size);

/* The first stretch whose checksum differs between two indexes of one expansion at one spacing
 * (`expected` made when the stream was written, `actual` while it was decoded now): its number n,
 * for bytes [n * spacing, (n + 1) * spacing); the number of the first stretch only one of them has
 * when the expansions differ in length; -1 when they agree; -2 for a null index or different
 * spacings. */
RLEGOLOMB_API int64_t rlegolomb_index_compare(const rlegolomb_index* expected,
                                              const rlegolomb_index* actual);

/* Bytes [offset, offset + length) of the expansion of src[0..src_size) (the zero-filled last byte
 * included), clipped at its end, into dst: DONE with *dst_size the count (0 for an offset at or
 * past the end). idx null: decodes from the start. ERROR_INDEX when idx does not belong to this
 * stream (rlegolomb_index_check_stream); ERROR_ARGUMENT for a null dst_size, or a null src or dst
 * with a size. */
RLEGOLOMB_API rlegolomb_status rlegolomb_extract(const void* src, size_t src_size,
                                                 const rlegolomb_index* idx, uint64_t offset,
                                                 void* dst, size_t length, size_t* dst_size);

/* Places a decoder so that its output starts at byte `offset` of the expansion: the caller then
 * feeds the stream from byte *input_pos on, as to any decoder (final with the last piece), for
 * files larger than memory. The decoder starts at the last checkpoint at or before the offset and
 * drops the output before it by itself. It then counts as having written `offset` bytes: its limit
 * and rlegolomb_decoder_bits count from the expansion's start. The decoder's limit is kept; any
 * stream it held is dropped. The caller must feed the stream the index belongs to (check it with
 * rlegolomb_index_check_stream when in doubt): the decoder cannot tell. idx null: the decoder
 * starts at the stream's start (*input_pos 0) and drops the first `offset` bytes. DONE;
 * ERROR_ARGUMENT for a null d or input_pos. An offset past the end gives a decoder whose expansion
 * ends with nothing written. */
RLEGOLOMB_API rlegolomb_status rlegolomb_decoder_seek(rlegolomb_decoder* d,
                                                      const rlegolomb_index* idx, uint64_t offset,
                                                      uint64_t* input_pos);

/* Makes the decoder build an index of the stream it decodes, with a checkpoint every spacing output
 * bytes (0: 1 MiB), without a second pass: call it at the start of a stream (after create or reset,
 * before the first decode). The index grows by about 40 bytes per checkpoint, allocated as the
 * stream goes (a failure gives ERROR_MEMORY from rlegolomb_decode). A reset drops it. DONE;
 * ERROR_ARGUMENT when not at the start of a stream; ERROR_MEMORY. */
RLEGOLOMB_API rlegolomb_status rlegolomb_decoder_build_index(rlegolomb_decoder* d,
                                                             uint64_t spacing);
/* After DONE, the index of the stream the decoder built (the caller frees it); the stream's size in
 * it is the count of bytes the decoder consumed. Null before DONE, without build_index, after it
 * was taken once, or when memory ran out. */
RLEGOLOMB_API rlegolomb_index* rlegolomb_decoder_take_index(rlegolomb_decoder* d);

/* The same for an encoder: the index of the stream it writes (the stream is decoded as it comes
 * out, through a room of 64 KiB: this costs a decoding of the stream, not a second pass over the
 * input). Call it at the start of a stream; a reset drops it. DONE; ERROR_ARGUMENT when not at the
 * start of a stream; ERROR_MEMORY (also from rlegolomb_encode when the index cannot grow). */
RLEGOLOMB_API rlegolomb_status rlegolomb_encoder_build_index(rlegolomb_encoder* e,
                                                             uint64_t spacing);
/* After DONE, the index of the stream the encoder wrote (the caller frees it); null otherwise. */
RLEGOLOMB_API rlegolomb_index* rlegolomb_encoder_take_index(rlegolomb_encoder* e);

#ifdef __cplusplus
}
#endif

#endif /* RLEGOLOMB_H */
