// The library on small inputs, where a call's fixed costs (creating an object, asking the processor
// what it offers, building tables) count as much as its loop: masks of 32 x 32 to 256 x 256 pixels
// expanded with rlegolomb_expand and compressed with rlegolomb_compress (k chosen), against zlib's
// uncompress and compress2 at level 6 on the same bytes; and rlegolomb_decoder_create + free.
// Same process, interleaved: each round times a batch of calls of every kind in an order that
// rotates from round to round; prints medians of the per-call times and of the per-round ratios.
//
// zlib's compress2 allocates about 256 KiB per call; glibc serves blocks that large with mmap until
// the process has freed one (then it raises its threshold), so zlib's time depends on what the
// process did before. The threshold is set to 1 MiB here (and freed memory is kept, not given back
// at each free): zlib's blocks come from the heap, as in a process that has run for a while, which
// is zlib's faster case.
//
//   rleg-small-bench [ROUNDS]     (default 21)
#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "rlegolomb.h"

namespace {

// A filled blob: an ellipse with a wavy edge, off centre, in a width x height mask, 1 inside,
// rows packed most significant bit first and padded to whole bytes (as a PBM "P4" raster).
std::vector<std::uint8_t> BlobMask(int width, int height) {
  const int rowBytes = (width + 7) / 8;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(rowBytes * height));
  const double cx = width * 0.47;
  const double cy = height * 0.53;
  const double rx = width * 0.36;
  const double ry = height * 0.41;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x + 0.5 - cx) / rx;
      const double dy = (y + 0.5 - cy) / ry;
      // The edge moves in and out a little with the angle, as a segmented object's does.
      const double wobble = 0.06 * ((dx * dx * dx - 3 * dx * dy * dy) + 0.5 * dy * dx);
      if (dx * dx + dy * dy <= 1.0 + wobble) {
        mask[static_cast<std::size_t>(y * rowBytes + x / 8)] |=
            static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
    }
  }
  return mask;
}

// Nanoseconds per call of `call`, over a batch of `calls`.
double NsPerCall(int calls, const std::function<void()>& call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    call();
  }
  const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
  return took.count() / calls;
}

struct Measure {
  std::string name;
  std::function<void()> call;
  std::vector<double> ns;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "rleg-small-bench: %s\n", what);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS]\n", argv[0]);
    return 2;
  }
  struct Size {
    int side;
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> deflated;
    int k;
  };
  std::vector<Size> sizes;
  for (const int side : {32, 64, 128, 256}) {
    Size s;
    s.side = side;
    s.raw = BlobMask(side, side);
    s.stream.resize(rlegolomb_compress_bound(s.raw.size(), -1));
    std::size_t streamSize = 0;
    if (rlegolomb_compress(s.raw.data(), s.raw.size(), -1, s.stream.data(), s.stream.size(),
                           &streamSize) != RLEGOLOMB_DONE) {
      Fail("rlegolomb_compress failed");
    }
    s.stream.resize(streamSize);
    s.k = rlegolomb_choose_k(s.raw.data(), s.raw.size());
    uLongf deflatedSize = compressBound(static_cast<uLong>(s.raw.size()));
    s.deflated.resize(deflatedSize);
    if (compress2(s.deflated.data(), &deflatedSize, s.raw.data(), static_cast<uLong>(s.raw.size()),
                  6) != Z_OK) {
      Fail("compress2 failed");
    }
    s.deflated.resize(deflatedSize);
    // Both give the raw bytes back.
    std::vector<std::uint8_t> back(s.raw.size());
    std::size_t backSize = 0;
    if (rlegolomb_expand(s.stream.data(), s.stream.size(), back.data(), back.size(), &backSize) !=
            RLEGOLOMB_DONE ||
        back != s.raw) {
      Fail("rlegolomb_expand does not give the mask back");
    }
    uLongf inflatedSize = static_cast<uLongf>(back.size());
    if (uncompress(back.data(), &inflatedSize, s.deflated.data(),
                   static_cast<uLong>(s.deflated.size())) != Z_OK ||
        back != s.raw) {
      Fail("uncompress does not give the mask back");
    }
    sizes.push_back(std::move(s));
  }

  std::uint64_t sink = 0;
  std::vector<std::uint8_t> out(1 << 20);
  std::vector<Measure> measures;
  const auto add = [&measures](std::string name, std::function<void()> call) {
    measures.push_back(Measure{std::move(name), std::move(call), {}});
  };
  for (const Size& s : sizes) {
    const std::string tag = std::to_string(s.side) + "x" + std::to_string(s.side);
    add(tag + " expand", [&s, &out, &sink] {
      std::size_t size = 0;
      rlegolomb_expand(s.stream.data(), s.stream.size(), out.data(), out.size(), &size);
      sink += size;
    });
    add(tag + " uncompress", [&s, &out, &sink] {
      uLongf size = static_cast<uLongf>(out.size());
      uncompress(out.data(), &size, s.deflated.data(), static_cast<uLong>(s.deflated.size()));
      sink += size;
    });
    add(tag + " expanded_bits",
        [&s, &sink] { sink += rlegolomb_expanded_bits(s.stream.data(), s.stream.size()); });
    add(tag + " compress", [&s, &out, &sink] {
      std::size_t size = 0;
      rlegolomb_compress(s.raw.data(), s.raw.size(), -1, out.data(), out.size(), &size);
      sink += size;
    });
    add(tag + " compress2", [&s, &out, &sink] {
      uLongf size = static_cast<uLongf>(out.size());
      compress2(out.data(), &size, s.raw.data(), static_cast<uLong>(s.raw.size()), 6);
      sink += size;
    });
    add(tag + " choose_k", [&s, &sink] {
      sink += static_cast<std::uint64_t>(rlegolomb_choose_k(s.raw.data(), s.raw.size()));
    });
  }
  add("decoder create+free", [&sink] {
    rlegolomb_decoder* d = rlegolomb_decoder_create();
    sink += d != nullptr;
    rlegolomb_decoder_free(d);
  });
  add("encoder create+free", [&sink] {
    rlegolomb_encoder* e = rlegolomb_encoder_create(4);
    sink += e != nullptr;
    rlegolomb_encoder_free(e);
  });
  add("sizer create+free", [&sink] {
    rlegolomb_sizer* s = rlegolomb_sizer_create();
    sink += s != nullptr;
    rlegolomb_sizer_free(s);
  });

  // A batch of each takes about a millisecond: the count comes from one warm-up call per kind.
  std::vector<int> batch;
  for (Measure& m : measures) {
    m.call();
    const double ns = NsPerCall(3, m.call);
    batch.push_back(std::clamp(static_cast<int>(1e6 / std::max(ns, 1.0)), 3, 100000));
  }
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < measures.size(); ++i) {
      const std::size_t at = (i + static_cast<std::size_t>(round)) % measures.size();
      measures[at].ns.push_back(NsPerCall(batch[at], measures[at].call));
    }
  }

  std::printf("%-9s %6s %3s %8s %8s | %10s %10s %7s | %10s %10s %7s | %10s %10s\n", "mask", "raw",
              "k", "stream", "deflate", "expand ns", "uncomp ns", "ratio", "compr ns", "compr2 ns",
              "ratio", "bits ns", "choose ns");
  const auto ratio = [](const Measure& a, const Measure& b) {
    std::vector<double> r;
    for (std::size_t i = 0; i < a.ns.size(); ++i) {
      r.push_back(a.ns[i] / b.ns[i]);
    }
    return Median(r);
  };
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const Size& s = sizes[i];
    const Measure* m = &measures[6 * i];
    std::printf(
        "%3dx%-5d %6zu %3d %8zu %8zu | %10.0f %10.0f %6.2fx | %10.0f %10.0f %6.2fx | %10.0f "
        "%10.0f\n",
        s.side, s.side, s.raw.size(), s.k, s.stream.size(), s.deflated.size(), Median(m[0].ns),
        Median(m[1].ns), ratio(m[0], m[1]), Median(m[3].ns), Median(m[4].ns), ratio(m[3], m[4]),
        Median(m[2].ns), Median(m[5].ns));
  }
  for (std::size_t i = 6 * sizes.size(); i < measures.size(); ++i) {
    std::printf("%-22s %10.0f ns\n", measures[i].name.c_str(), Median(measures[i].ns));
  }
  return sink == 0 ? 1 : 0;
}
