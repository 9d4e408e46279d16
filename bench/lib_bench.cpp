// The library's memory-to-memory speed: for each stream file, rlegolomb_expand into a buffer
// that holds the whole expansion; rlegolomb_expanded_bits (a loop that adds up the run lengths
// instead of writing them); and the streaming decoder filling one 256 KiB room again and again,
// as the expander does between its writes, where the output stays in the processor's cache (the
// decoding's own cost, without the cost of taking the expansion to memory). In interleaved
// rounds; prints medians in MB/s of output and in ns per run code.
//
//   rleg-lib-bench ROUNDS FILE.rlg...
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "rlegolomb.h"

namespace {

struct Set {
  std::string name;
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> output;
  std::uint64_t codes;
  std::vector<double> expand;
  std::vector<double> count;
  std::vector<double> room;
};

constexpr std::size_t kRoomBytes = 256 * 1024;

// Decodes `stream` into one room, reused from its start each time it is full; returns the bytes
// written in all.
std::uint64_t DecodeIntoRoom(rlegolomb_decoder* d, const std::vector<std::uint8_t>& stream,
                             std::uint8_t* room) {
  rlegolomb_decoder_reset(d);
  rlegolomb_in in{stream.data(), stream.size(), 0};
  std::uint64_t written = 0;
  for (;;) {
    rlegolomb_out out{room, kRoomBytes, 0};
    const rlegolomb_status status = rlegolomb_decode(d, &out, &in, 1);
    written += out.pos;
    if (status != RLEGOLOMB_MORE) {
      return written;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ROUNDS FILE.rlg...\n", argv[0]);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  std::vector<Set> sets;
  for (int i = 2; i < argc; ++i) {
    Set set;
    set.name = argv[i];
    set.stream = ReadFile(argv[i]);
    const std::uint64_t bits = rlegolomb_expanded_bits(set.stream.data(), set.stream.size());
    set.output.resize(static_cast<std::size_t>((bits + 7) / 8));
    // One streaming pass for the count of codes.
    rlegolomb_decoder* d = rlegolomb_decoder_create();
    rlegolomb_in in{set.stream.data(), set.stream.size(), 0};
    rlegolomb_out out{set.output.data(), set.output.size(), 0};
    if (rlegolomb_decode(d, &out, &in, 1) != RLEGOLOMB_DONE) {
      std::fprintf(stderr, "%s does not expand\n", argv[i]);
      return 1;
    }
    set.codes = rlegolomb_decoder_codes(d);
    rlegolomb_decoder_free(d);
    sets.push_back(std::move(set));
  }
  std::uint64_t sink = 0;
  std::vector<std::uint8_t> room(kRoomBytes);
  rlegolomb_decoder* roomDecoder = rlegolomb_decoder_create();
  if (roomDecoder == nullptr) {
    return 1;
  }
  for (int round = 0; round < rounds; ++round) {
    for (Set& set : sets) {
      for (int which = 0; which < 3; ++which) {
        const int measure = (round + which) % 3;  // the order rotates from round to round
        const auto start = std::chrono::steady_clock::now();
        if (measure == 0) {
          std::size_t size = 0;
          rlegolomb_expand(set.stream.data(), set.stream.size(), set.output.data(),
                           set.output.size(), &size);
          sink += size;
          set.expand.push_back(Seconds(start));
        } else if (measure == 1) {
          sink += rlegolomb_expanded_bits(set.stream.data(), set.stream.size());
          set.count.push_back(Seconds(start));
        } else {
          sink += DecodeIntoRoom(roomDecoder, set.stream, room.data());
          set.room.push_back(Seconds(start));
        }
      }
    }
  }
  rlegolomb_decoder_free(roomDecoder);
  std::printf("%-28s %10s %12s %9s %10s %10s %12s %14s\n", "stream", "codes", "output MB", "MB/s",
              "ns/code", "bound", "expand/bound", "room ns/code");
  for (const Set& set : sets) {
    const double expand = Median(set.expand);
    const double count = Median(set.count);
    const double inRoom = Median(set.room);
    const double codes = static_cast<double>(std::max<std::uint64_t>(set.codes, 1));
    std::string name = set.name.substr(set.name.find_last_of('/') + 1);
    std::printf("%-28s %10" PRIu64 " %12.1f %9.0f %10.2f %10.2f %11.2fx %14.2f\n", name.c_str(),
                set.codes, static_cast<double>(set.output.size()) / 1e6,
                static_cast<double>(set.output.size()) / 1e6 / expand, expand * 1e9 / codes,
                count * 1e9 / codes, expand / count, inRoom * 1e9 / codes);
  }
  return sink == 0 ? 1 : 0;
}
