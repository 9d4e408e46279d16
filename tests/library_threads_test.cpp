// Guards the library's promise of no shared mutable state: decoders, encoders, sizers and the
// one-shot calls at work on two threads at once, each checking its own results. Built and run
// under ThreadSanitizer in CI (label "threads").
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "lib_support.h"
#include "rlegolomb.h"

namespace {

constexpr int kRounds = 50;

// What one thread saw: how many rounds went wrong, and the first way.
struct Outcome {
  int failures = 0;
  std::string first;
  void Note(bool ok, const std::string& what) {
    if (!ok && failures++ == 0) {
      first = what;
    }
  }
};

// Runs `work` on two threads that start together, one with each index.
void RunTwoAtOnce(const std::function<void(int, Outcome*)>& work, Outcome outcomes[2]) {
  std::latch start(2);
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      work(i, &outcomes[i]);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

// k = 2 decodes with a table of code groups built per stream; k = 40 without.
TEST(ThreadsTest, TwoDecodersAtOnce) {
  const RandomStream streams[2] = {MakeRandomStream(2, 21, 150), MakeRandomStream(40, 22, 150)};
  Outcome outcomes[2];
  RunTwoAtOnce(
      [&](int i, Outcome* outcome) {
        const RandomStream& s = streams[i];
        rlegolomb_decoder* d = rlegolomb_decoder_create();
        if (d == nullptr) {
          outcome->Note(false, "no decoder");
          return;
        }
        for (int round = 0; round < kRounds; ++round) {
          rlegolomb_decoder_reset(d);
          Cuts cuts = RandomCuts(static_cast<std::uint64_t>(round * 2 + i));
          const Transfer t = DecodeInPieces(d, s.stream, cuts);
          outcome->Note(t.fault.empty(), t.fault);
          outcome->Note(t.status == RLEGOLOMB_DONE && t.output == s.expansion,
                        "streamed expansion, round " + std::to_string(round));
          outcome->Note(rlegolomb_decoder_k(d) == (i == 0 ? 2 : 40), "decoder_k");
          Bytes out(s.expansion.size());
          std::size_t size = 0;
          outcome->Note(rlegolomb_expand(s.stream.data(), s.stream.size(), out.data(), out.size(),
                                         &size) == RLEGOLOMB_DONE &&
                            out == s.expansion,
                        "one-shot expansion, round " + std::to_string(round));
          outcome->Note(rlegolomb_expanded_bits(s.stream.data(), s.stream.size()) == s.bits,
                        "expanded_bits, round " + std::to_string(round));
        }
        rlegolomb_decoder_free(d);
      },
      outcomes);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(outcomes[i].failures, 0) << "thread " << i << ": " << outcomes[i].first;
  }
}

TEST(ThreadsTest, TwoEncodersAtOnce) {
  const int ks[2] = {3, 37};
  const Bytes inputs[2] = {MakeRandomStream(5, 23, 200).expansion,
                           MakeRandomStream(9, 24, 200).expansion};
  Bytes expected[2];
  int chosen[2];
  for (int i = 0; i < 2; ++i) {
    expected[i].resize(rlegolomb_compress_bound(inputs[i].size(), ks[i]));
    std::size_t size = 0;
    ASSERT_EQ(rlegolomb_compress(inputs[i].data(), inputs[i].size(), ks[i], expected[i].data(),
                                 expected[i].size(), &size),
              RLEGOLOMB_DONE);
    expected[i].resize(size);
    chosen[i] = rlegolomb_choose_k(inputs[i].data(), inputs[i].size());
  }
  Outcome outcomes[2];
  RunTwoAtOnce(
      [&](int i, Outcome* outcome) {
        rlegolomb_encoder* e = rlegolomb_encoder_create(ks[i]);
        rlegolomb_sizer* s = rlegolomb_sizer_create();
        if (e == nullptr || s == nullptr) {
          outcome->Note(false, "no encoder or sizer");
        }
        for (int round = 0; round < kRounds && e != nullptr && s != nullptr; ++round) {
          rlegolomb_encoder_reset(e);
          Cuts cuts = RandomCuts(static_cast<std::uint64_t>(round * 2 + i) + 100);
          const Transfer t = EncodeInPieces(e, inputs[i], cuts);
          outcome->Note(t.fault.empty(), t.fault);
          outcome->Note(t.status == RLEGOLOMB_DONE && t.output == expected[i],
                        "streamed stream, round " + std::to_string(round));
          rlegolomb_sizer_reset(s);
          rlegolomb_sizer_update(s, inputs[i].data(), inputs[i].size());
          outcome->Note(rlegolomb_sizer_stream_bytes(s, ks[i]) == expected[i].size() &&
                            rlegolomb_sizer_choose_k(s) == chosen[i],
                        "sizer, round " + std::to_string(round));
          outcome->Note(rlegolomb_choose_k(inputs[i].data(), inputs[i].size()) == chosen[i],
                        "choose_k, round " + std::to_string(round));
        }
        rlegolomb_encoder_free(e);
        rlegolomb_sizer_free(s);
      },
      outcomes);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(outcomes[i].failures, 0) << "thread " << i << ": " << outcomes[i].first;
  }
}

}  // namespace
