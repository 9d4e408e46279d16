// Guards the library's exported API around the codec: bad arguments refused with nothing read or
// written, null objects, status texts and the version.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "rlegolomb.h"

extern "C" const char* rleg_c_status_text(int value);

namespace {

using Bytes = std::vector<std::uint8_t>;

// A valid call, changed in one way.
struct BadCall {
  const char* name;
  bool nullIn;
  bool nullOut;
  bool nullSrc;  // with a non-zero size
  bool nullDst;  // with a non-zero size
  std::size_t inPos;
  std::size_t inSize;
  std::size_t outPos;
  std::size_t outSize;
};

const std::vector<BadCall> kBadCalls = {
    {"null in", true, false, false, false, 0, 4, 0, 8},
    {"null out", false, true, false, false, 0, 4, 0, 8},
    {"in.pos past in.size", false, false, false, false, 5, 4, 0, 8},
    {"out.pos past out.size", false, false, false, false, 0, 4, 9, 8},
    {"null src", false, false, true, false, 0, 4, 0, 8},
    {"null dst", false, false, false, true, 0, 4, 0, 8},
};

// Runs a stream object's call with each bad call in the middle of a stream: ERROR_ARGUMENT, the
// positions and the room as they were, and the stream goes on as if the call had not been made.
template <typename Object, typename Call>
void ExpectBadCallsRefused(const char* who, Object* object, Call call, const Bytes& input,
                           const Bytes& expected) {
  Bytes out(expected.size() + 64, 0x5A);
  rlegolomb_out done{out.data(), out.size(), 0};
  rlegolomb_in head{input.data(), input.size() / 2, 0};
  ASSERT_EQ(call(object, &done, &head, 0), RLEGOLOMB_MORE) << who;
  for (const BadCall& bad : kBadCalls) {
    const Bytes before = out;
    rlegolomb_in in{bad.nullSrc ? nullptr : input.data() + head.pos, bad.inSize, bad.inPos};
    rlegolomb_out room{bad.nullDst ? nullptr : out.data() + done.pos, bad.outSize, bad.outPos};
    EXPECT_EQ(call(object, bad.nullOut ? nullptr : &room, bad.nullIn ? nullptr : &in, 1),
              RLEGOLOMB_ERROR_ARGUMENT)
        << who << ", " << bad.name;
    EXPECT_EQ(in.pos, bad.inPos) << who << ", " << bad.name;
    EXPECT_EQ(room.pos, bad.outPos) << who << ", " << bad.name;
    EXPECT_EQ(out, before) << who << ", " << bad.name;
  }
  rlegolomb_in rest{input.data(), input.size(), head.pos};
  EXPECT_EQ(call(object, &done, &rest, 1), RLEGOLOMB_DONE) << who;
  EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(done.pos)), expected)
      << who;
}

TEST(BadArgumentsTest, StreamCallsRefuseAndTouchNothing) {
  Bytes file(200);
  for (std::size_t i = 0; i < file.size(); ++i) {
    file[i] = static_cast<std::uint8_t>(i * 37 / 5);
  }
  Bytes stream(rlegolomb_compress_bound(file.size(), 3));
  std::size_t size = 0;
  ASSERT_EQ(rlegolomb_compress(file.data(), file.size(), 3, stream.data(), stream.size(), &size),
            RLEGOLOMB_DONE);
  stream.resize(size);

  rlegolomb_decoder* d = rlegolomb_decoder_create();
  ASSERT_NE(d, nullptr);
  ExpectBadCallsRefused("decode", d, rlegolomb_decode, stream, file);
  rlegolomb_decoder_free(d);
  rlegolomb_encoder* e = rlegolomb_encoder_create(3);
  ASSERT_NE(e, nullptr);
  ExpectBadCallsRefused("encode", e, rlegolomb_encode, file, stream);
  rlegolomb_encoder_free(e);

  std::uint8_t room[8] = {};
  rlegolomb_out out{room, sizeof room, 0};
  rlegolomb_in in{file.data(), file.size(), 0};
  EXPECT_EQ(rlegolomb_decode(nullptr, &out, &in, 1), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_encode(nullptr, &out, &in, 1), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(out.pos, 0u);
  EXPECT_EQ(in.pos, 0u);
}

// Null pointers with a size of 0 are an empty piece and an empty room, not bad arguments.
TEST(BadArgumentsTest, EmptyPiecesMayBeNull) {
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  ASSERT_NE(d, nullptr);
  rlegolomb_in none{nullptr, 0, 0};
  rlegolomb_out noRoom{nullptr, 0, 0};
  EXPECT_EQ(rlegolomb_decode(d, &noRoom, &none, 0), RLEGOLOMB_MORE);
  EXPECT_EQ(rlegolomb_decode(d, &noRoom, &none, 1), RLEGOLOMB_DONE);  // the empty stream
  rlegolomb_decoder_free(d);

  rlegolomb_encoder* e = rlegolomb_encoder_create(7);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(rlegolomb_encode(e, &noRoom, &none, 1), RLEGOLOMB_MORE);  // the header needs room
  std::uint8_t room[4] = {};
  rlegolomb_out out{room, sizeof room, 0};
  EXPECT_EQ(rlegolomb_encode(e, &out, &none, 1), RLEGOLOMB_DONE);
  EXPECT_EQ(Bytes(room, room + out.pos), (Bytes{7, 0x00}));
  rlegolomb_encoder_free(e);

  std::size_t size = 99;
  EXPECT_EQ(rlegolomb_expand(nullptr, 0, nullptr, 0, &size), RLEGOLOMB_DONE);
  EXPECT_EQ(size, 0u);
  std::uint8_t stream[4] = {};
  EXPECT_EQ(rlegolomb_compress(nullptr, 0, 9, stream, sizeof stream, &size), RLEGOLOMB_DONE);
  EXPECT_EQ(Bytes(stream, stream + size), (Bytes{9, 0x00}));
  EXPECT_EQ(rlegolomb_choose_k(nullptr, 0), 0);
}

TEST(BadArgumentsTest, OneShotCallsRefuseAndTouchNothing) {
  const Bytes src = {0x02, 0xCB};
  Bytes dst(16, 0x5A);
  const Bytes untouched = dst;
  std::size_t size = 0;
  EXPECT_EQ(rlegolomb_expand(src.data(), src.size(), dst.data(), dst.size(), nullptr),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_expand(nullptr, 2, dst.data(), dst.size(), &size), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_expand(src.data(), src.size(), nullptr, 4, &size), RLEGOLOMB_ERROR_ARGUMENT);
  for (const int k : {-2, 256, INT_MIN, INT_MAX}) {
    EXPECT_EQ(rlegolomb_compress(src.data(), src.size(), k, dst.data(), dst.size(), &size),
              RLEGOLOMB_ERROR_ARGUMENT)
        << "k = " << k;
    EXPECT_EQ(rlegolomb_compress_bound(src.size(), k), 0u) << "k = " << k;
    EXPECT_EQ(rlegolomb_encoder_create(k), nullptr) << "k = " << k;
  }
  EXPECT_EQ(rlegolomb_encoder_create(-1), nullptr);  // -1 chooses k only in the one-shot call
  EXPECT_EQ(rlegolomb_compress(src.data(), src.size(), 0, dst.data(), dst.size(), nullptr),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_compress(nullptr, 2, 0, dst.data(), dst.size(), &size),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_compress(src.data(), src.size(), 0, nullptr, 4, &size),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(dst, untouched);
  EXPECT_EQ(rlegolomb_expanded_bits(nullptr, 2), 0u);
  EXPECT_EQ(rlegolomb_choose_k(nullptr, 2), -1);

  rlegolomb_sizer* s = rlegolomb_sizer_create();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(rlegolomb_sizer_update(s, src.data(), src.size()), RLEGOLOMB_MORE);
  const std::uint64_t bits = rlegolomb_sizer_stream_bits(s, 2);
  EXPECT_EQ(rlegolomb_sizer_update(nullptr, src.data(), src.size()), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_sizer_update(s, nullptr, 3), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_sizer_input_bytes(s), src.size());
  EXPECT_EQ(rlegolomb_sizer_stream_bits(s, 2), bits);
  for (const int k : {-1, 256}) {
    EXPECT_EQ(rlegolomb_sizer_stream_bits(s, k), 0u) << "k = " << k;
    EXPECT_EQ(rlegolomb_sizer_stream_bytes(s, k), 0u) << "k = " << k;
  }
  rlegolomb_sizer_free(s);
}

TEST(BadArgumentsTest, NullObjects) {
  rlegolomb_decoder_free(nullptr);
  rlegolomb_decoder_reset(nullptr);
  rlegolomb_decoder_set_limit(nullptr, 5);
  EXPECT_EQ(rlegolomb_decoder_bits(nullptr), 0u);
  EXPECT_EQ(rlegolomb_decoder_k(nullptr), -1);
  EXPECT_EQ(rlegolomb_decoder_codes(nullptr), 0u);
  rlegolomb_encoder_free(nullptr);
  rlegolomb_encoder_reset(nullptr);
  EXPECT_EQ(rlegolomb_encoder_bits(nullptr), 0u);
  rlegolomb_sizer_free(nullptr);
  rlegolomb_sizer_reset(nullptr);
  EXPECT_EQ(rlegolomb_sizer_stream_bits(nullptr, 0), 0u);
  EXPECT_EQ(rlegolomb_sizer_stream_bytes(nullptr, 0), 0u);
  EXPECT_EQ(rlegolomb_sizer_choose_k(nullptr), -1);
  EXPECT_EQ(rlegolomb_sizer_input_bytes(nullptr), 0u);
}

TEST(StatusTextTest, EveryStatusHasItsOwnText) {
  EXPECT_STREQ(rlegolomb_status_text(RLEGOLOMB_DONE), "done");
  EXPECT_STREQ(rlegolomb_status_text(RLEGOLOMB_ERROR_LIMIT), "output limit exceeded");
  std::set<std::string> texts;
  for (const rlegolomb_status status : {RLEGOLOMB_DONE, RLEGOLOMB_MORE, RLEGOLOMB_ERROR_LIMIT,
                                        RLEGOLOMB_ERROR_MEMORY, RLEGOLOMB_ERROR_ARGUMENT}) {
    const char* text = rlegolomb_status_text(status);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(std::strlen(text), 0u);
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 5u);
  for (const int value : {2, -4, 99, -100, INT_MIN, INT_MAX}) {
    const char* text = rleg_c_status_text(value);
    ASSERT_NE(text, nullptr) << value;
    EXPECT_GT(std::strlen(text), 0u) << value;
  }
}

TEST(VersionTest, IsTheHeadersVersion) {
  EXPECT_STREQ(rlegolomb_version(), "0.2.0");
  EXPECT_EQ(std::string(rlegolomb_version()), std::to_string(RLEGOLOMB_VERSION_MAJOR) + "." +
                                                  std::to_string(RLEGOLOMB_VERSION_MINOR) + "." +
                                                  std::to_string(RLEGOLOMB_VERSION_PATCH));
  EXPECT_STREQ(RLEGOLOMB_METHOD_NAME, "RLE_Golomb");
}

}  // namespace
