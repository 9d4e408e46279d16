// rlegolomb._rlegolomb: the codec library as a Python module, in the manner of zlib, bz2 and lzma.
//
// Written on CPython's own API, as those modules are: functions take their arguments through the
// vectorcall convention (no per-call tuples or argument casters), and the two object types start
// empty in __new__ and are set up by __init__, so that an object made without __init__ refuses
// every call instead of running on memory nobody initialised.
//
// Inputs are read in place through the buffer protocol (the views stay held across the call);
// results are written straight into the bytes objects that are returned, grown in place
// (realloc) and cut to their length at the end. The GIL is released around library calls on
// inputs or output rooms large enough to pay for the hand-over. The numpy functions and the
// numcodecs codec live in the Python part of the package.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <rlegolomb.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr size_t kSizeMax = std::numeric_limits<size_t>::max();

// The bytes an expansion of `bits` bits takes, its last byte completed with zero bits.
constexpr uint64_t BytesOfBits(uint64_t bits) {
  return bits / 8 + (bits % 8 != 0 ? 1 : 0);
}

// rlegolomb.OutputLimitError, created at import and kept for the life of the process.
PyObject* output_limit_error = nullptr;

// Thrown with a Python exception set; the entry points turn it into a null return.
struct PythonError {};

[[noreturn]] void Raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw PythonError{};
}

[[noreturn]] void RaiseStatus(rlegolomb_status status) {
  if (status == RLEGOLOMB_ERROR_MEMORY) {
    throw std::bad_alloc();
  }
  Raise(PyExc_SystemError,
        std::string("rlegolomb: unexpected library status: ") + rlegolomb_status_text(status));
}

// Runs an entry point's body: a PythonError or a bad_alloc becomes a null return with the
// exception set, as CPython expects.
template <typename Body>
PyObject* Guarded(Body body) {
  try {
    return body();
  } catch (const PythonError&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// ---- Arguments ----------------------------------------------------------------------------------

// A function's parameters for the vectorcall convention, checked with CPython's messages: the
// first `positional` may be given by position, the first `positional_only` of them only so, and
// the first `required` must be given. The others are keyword-only.
template <size_t N>
struct Parameters {
  const char* function;
  std::array<const char*, N> names;
  size_t positional;
  size_t positional_only;
  size_t required;
};

template <size_t N>
std::array<PyObject*, N> ParseArguments(const Parameters<N>& p, PyObject* const* args,
                                        Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, N> values{};
  const size_t given = static_cast<size_t>(nargs);
  if (given > p.positional) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu positional argument%s (%zd given)",
                 p.function, p.positional, p.positional == 1 ? "" : "s", nargs);
    throw PythonError{};
  }
  std::copy(args, args + nargs, values.begin());
  const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < keywords; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    size_t i = 0;
    while (i < N && PyUnicode_CompareWithASCIIString(key, p.names[i]) != 0) {
      ++i;
    }
    if (i < p.positional_only) {
      PyErr_Format(PyExc_TypeError,
                   "%s() got some positional-only arguments passed as keyword arguments: '%U'",
                   p.function, key);
      throw PythonError{};
    }
    if (i == N) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", p.function,
                   key);
      throw PythonError{};
    }
    if (values[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zu)",
                   p.function, p.names[i], i + 1);
      throw PythonError{};
    }
    values[i] = args[nargs + j];
  }
  for (size_t i = 0; i < p.required; ++i) {
    if (values[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", p.function,
                   p.names[i], i + 1);
      throw PythonError{};
    }
  }
  return values;
}

// A new reference to value as a Python int (int, bool or anything with __index__); TypeError
// naming the argument otherwise.
PyObject* IndexArgument(PyObject* value, const char* name, const char* expected) {
  if (!PyIndex_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be %s, not %.200s", name, expected,
                 Py_TYPE(value)->tp_name);
    throw PythonError{};
  }
  PyObject* index = PyNumber_Index(value);
  if (index == nullptr) {
    throw PythonError{};
  }
  return index;
}

// The value of a Python int as a long long, with `overflow` -1 or 1 when it does not fit.
long long IntValue(PyObject* index, int& overflow) {
  long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
  Py_DECREF(index);
  return value;
}

// k: 0..255, or None (-1: chosen from the input) where allowed; a missing argument is None.
int KArgument(PyObject* value, bool none_allowed) {
  if (value == nullptr || (none_allowed && value == Py_None)) {
    return -1;
  }
  PyObject* index = IndexArgument(
      value, "k", none_allowed ? "an integer from 0 to 255 or None" : "an integer from 0 to 255");
  int overflow = 0;
  long long k = IntValue(index, overflow);
  if (overflow != 0 || k < 0 || k > 255) {
    PyErr_Format(PyExc_ValueError, "k must be from 0 to 255, not %S", value);
    throw PythonError{};
  }
  return static_cast<int>(k);
}

// A byte or bit count >= 0, or None (nullopt; also a missing argument) where allowed. Counts past
// 2^64 - 1 are clamped there, since no expansion reaches them.
std::optional<uint64_t> CountArgument(PyObject* value, const char* name, bool none_allowed) {
  if (none_allowed && (value == nullptr || value == Py_None)) {
    return std::nullopt;
  }
  PyObject* index =
      IndexArgument(value, name, none_allowed ? "an integer >= 0 or None" : "an integer >= 0");
  int overflow = 0;
  long long small = PyLong_AsLongLongAndOverflow(index, &overflow);
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    Py_DECREF(index);
    PyErr_Format(PyExc_ValueError, "%s must be >= 0, not %S", name, value);
    throw PythonError{};
  }
  if (overflow == 0) {
    Py_DECREF(index);
    return static_cast<uint64_t>(small);
  }
  unsigned long long big = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (big == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return std::numeric_limits<uint64_t>::max();
  }
  return static_cast<uint64_t>(big);
}

// threads: an integer >= 0 (0: one per processor available to the process); a missing argument
// is 1, the calling thread alone. Counts past INT_MAX are clamped there: the library caps them.
int ThreadsArgument(PyObject* value) {
  if (value == nullptr) {
    return 1;
  }
  PyObject* index = IndexArgument(value, "threads", "an integer >= 0");
  int overflow = 0;
  long long threads = IntValue(index, overflow);
  if (overflow < 0 || (overflow == 0 && threads < 0)) {
    PyErr_Format(PyExc_ValueError, "threads must be >= 0, not %S", value);
    throw PythonError{};
  }
  return overflow > 0 || threads > INT_MAX ? INT_MAX : static_cast<int>(threads);
}

// The per-call cap of Decompressor.decompress(): a negative integer means none (kSizeMax), as in
// bz2 and lzma.
size_t PieceCapArgument(PyObject* value) {
  if (value == nullptr) {
    return kSizeMax;
  }
  PyObject* index = IndexArgument(value, "max_length", "an integer");
  int overflow = 0;
  long long cap = IntValue(index, overflow);
  if (overflow < 0 || (overflow == 0 && cap < 0)) {
    return kSizeMax;
  }
  if (overflow > 0 || static_cast<unsigned long long>(cap) > kSizeMax) {
    return kSizeMax;
  }
  return static_cast<size_t>(cap);
}

// The total cap on an expansion: max_output, or the old name max_length (still honoured, with a
// DeprecationWarning, for one version). Both at once is a TypeError.
std::optional<uint64_t> TotalCapArgument(const char* function, PyObject* max_output,
                                         PyObject* max_length) {
  if (max_length == nullptr) {
    return CountArgument(max_output, "max_output", true);
  }
  if (max_output != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() takes max_output or max_length, not both", function);
    throw PythonError{};
  }
  if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                       "%s(max_length=...) is deprecated; the total cap is max_output=", function) <
      0) {
    throw PythonError{};
  }
  return CountArgument(max_length, "max_length", true);
}

// ---- Buffers and results ------------------------------------------------------------------------

// The address handed to the library for an empty input, which may have no address of its own.
const unsigned char empty_input = 0;

// A C-contiguous view of a bytes-like object, released on destruction (with the GIL held). A
// str, a number or any other object without the buffer protocol raises TypeError, a
// non-contiguous buffer BufferError, as zlib does.
class Buffer {
 public:
  explicit Buffer(PyObject* obj, int flags = PyBUF_SIMPLE) {
    if (PyObject_GetBuffer(obj, &view_, flags) != 0) {
      throw PythonError{};
    }
  }
  ~Buffer() { PyBuffer_Release(&view_); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  const unsigned char* data() const {
    return view_.len > 0 ? static_cast<const unsigned char*>(view_.buf) : &empty_input;
  }
  void* writable() const { return view_.buf; }
  size_t size() const { return static_cast<size_t>(view_.len); }
  rlegolomb_in input() const { return rlegolomb_in{data(), size(), 0}; }

 private:
  Py_buffer view_{};
};

// Handing the GIL over costs two atomic exchanges and, when another thread waits for it, a wake-up
// of that thread: more than a call on a few KiB takes. Calls below these sizes keep it.
constexpr size_t kReleaseInputBytes = 16 * 1024;
constexpr size_t kReleaseOutputBytes = 64 * 1024;

bool WorthReleasing(size_t input_bytes, size_t output_bytes) {
  return input_bytes >= kReleaseInputBytes || output_bytes >= kReleaseOutputBytes;
}

class ReleasedGil {
 public:
  explicit ReleasedGil(bool release) : state_(release ? PyEval_SaveThread() : nullptr) {}
  ~ReleasedGil() {
    if (state_ != nullptr) {
      PyEval_RestoreThread(state_);
    }
  }
  ReleasedGil(const ReleasedGil&) = delete;
  ReleasedGil& operator=(const ReleasedGil&) = delete;

 private:
  PyThreadState* state_;
};

// A bytes object being filled: room grows in place, and Finish() shrinks it to what was written.
class BytesBuilder {
 public:
  explicit BytesBuilder(size_t capacity) {
    capacity = std::max<size_t>(capacity, 1);
    CheckSize(capacity);
    obj_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
    if (obj_ == nullptr) {
      throw PythonError{};
    }
    capacity_ = capacity;
  }
  ~BytesBuilder() { Py_XDECREF(obj_); }
  BytesBuilder(const BytesBuilder&) = delete;
  BytesBuilder& operator=(const BytesBuilder&) = delete;

  char* data() { return PyBytes_AS_STRING(obj_); }
  size_t capacity() const { return capacity_; }
  size_t length() const { return length_; }
  void set_length(size_t length) { length_ = length; }

  // Grows the room to `wanted` (an estimate of the whole result, 0 for none) but by a quarter at
  // least, or doubles it without an estimate; never past max_capacity.
  void Grow(size_t wanted, size_t max_capacity) {
    size_t step = wanted > capacity_ ? capacity_ / 4 : capacity_;
    size_t capacity = capacity_ > max_capacity - step ? max_capacity : capacity_ + step;
    capacity = std::min(std::max(capacity, wanted), max_capacity);
    Resize(capacity);
    capacity_ = capacity;
  }

  PyObject* Finish() {
    if (length_ != capacity_) {
      Resize(length_);
      capacity_ = length_;
    }
    PyObject* obj = obj_;
    obj_ = nullptr;
    return obj;
  }

 private:
  static void CheckSize(size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<Py_ssize_t>::max())) {
      throw std::bad_alloc();
    }
  }
  void Resize(size_t size) {
    CheckSize(size);
    if (_PyBytes_Resize(&obj_, static_cast<Py_ssize_t>(size)) != 0) {
      throw PythonError{};  // obj_ is null now; MemoryError is set
    }
  }

  PyObject* obj_ = nullptr;
  size_t capacity_ = 0;
  size_t length_ = 0;
};

// A first output room for a piece of input: 8 times its size (a mask's stream is rarely smaller
// than an eighth of it), from 512 bytes to 256 KiB. When it runs out, the output per input byte
// so far estimates the whole (see Drain), so that a large result takes a reallocation or two,
// copying little, whatever the expansion's ratio.
size_t InitialRoom(size_t input_size, size_t max_output) {
  size_t room = input_size > 256 * 1024 / 8 ? 256 * 1024 : std::max<size_t>(input_size * 8, 512);
  return std::min(room, std::max<size_t>(max_output, 1));
}

// With threads, a decoder or an encoder works in parallel only on the input and the room one call
// brings (rlegolomb.h, "Threads"): the first room for a large input is then a few MiB, 2 MiB per
// thread from 4 to 16 MiB, rather than the one-thread 256 KiB. Untouched room costs address
// space only, and the result is cut to its length at the end.
size_t FirstRoom(size_t input_size, size_t max_output, int threads) {
  const size_t room = InitialRoom(input_size, max_output);
  if (threads <= 1 || input_size < RLEGOLOMB_THREAD_MIN_INPUT) {
    return room;
  }
  const size_t per_thread = size_t{2} << 20;
  const size_t threaded = std::clamp(per_thread * static_cast<size_t>(std::min(threads, 8)),
                                     size_t{4} << 20, size_t{16} << 20);
  return std::min(std::max(room, threaded), std::max<size_t>(max_output, 1));
}

// The whole output, estimated from `made` bytes out of `used` of `total` input bytes, and 1/16
// more; 0 when nothing is known (no input used, or none left: the rest comes from inside).
size_t EstimateOutput(size_t made, size_t used, size_t total) {
  if (used == 0 || used >= total) {
    return 0;
  }
  double whole = static_cast<double>(made) * static_cast<double>(total) / static_cast<double>(used);
  whole *= 1.0625;
  return whole >= 0x1p63 ? kSizeMax : static_cast<size_t>(whole) + 4096;
}

// Runs a stream call (rlegolomb_decode or rlegolomb_encode) over `in` into `out`, growing the
// room, until the call is done with this input or `out` holds max_output bytes. The return is the
// last status: DONE, MORE (input used up and no more output pending, or out at max_output), or an
// error.
template <typename Object, typename Call>
rlegolomb_status Drain(Object* object, Call call, rlegolomb_in& in, int final, BytesBuilder& out,
                       size_t max_output) {
  const size_t first_input = in.pos;
  const size_t first_output = out.length();
  for (;;) {
    rlegolomb_out room{out.data(), std::min(out.capacity(), max_output), out.length()};
    rlegolomb_status status;
    {
      ReleasedGil gil(WorthReleasing(in.size - in.pos, room.size - room.pos));
      status = call(object, &room, &in, final);
    }
    out.set_length(room.pos);
    if (status != RLEGOLOMB_MORE) {
      return status;
    }
    if (room.pos < room.size) {
      return status;  // MORE with room left: the input is used up and nothing more is pending
    }
    if (room.pos >= max_output) {
      return status;  // the caller's cap
    }
    out.Grow(std::max(room.pos + 1,
                      first_output + EstimateOutput(room.pos - first_output, in.pos - first_input,
                                                    in.size - first_input)),
             max_output);
  }
}

// The room that lets a decoder write at most `limit` more bytes and then one more, which tells
// an expansion that passes the limit from one that ends at it.
size_t RoomForLimit(uint64_t limit) {
  return limit < static_cast<uint64_t>(kSizeMax) ? static_cast<size_t>(limit) + 1 : kSizeMax;
}

[[noreturn]] void RaiseLimit(uint64_t max_output) {
  Raise(output_limit_error, "the expansion passes max_output=" + std::to_string(max_output));
}

using EncoderPtr = std::unique_ptr<rlegolomb_encoder, decltype(&rlegolomb_encoder_free)>;
using DecoderPtr = std::unique_ptr<rlegolomb_decoder, decltype(&rlegolomb_decoder_free)>;

EncoderPtr NewEncoder(int k) {
  EncoderPtr encoder(rlegolomb_encoder_create(k), rlegolomb_encoder_free);
  if (!encoder) {
    throw std::bad_alloc();
  }
  return encoder;
}

DecoderPtr NewDecoder() {
  DecoderPtr decoder(rlegolomb_decoder_create(), rlegolomb_decoder_free);
  if (!decoder) {
    throw std::bad_alloc();
  }
  return decoder;
}

// Lets a new decoder (encoder) use `threads` threads (0: one per processor) and returns the count
// it will use; 1 asks for nothing, the default of every object.
int SetThreads(rlegolomb_decoder* decoder, int threads) {
  const int count = threads == 1 ? 1 : rlegolomb_decoder_set_threads(decoder, threads);
  if (count < 1) {
    RaiseStatus(static_cast<rlegolomb_status>(count));
  }
  return count;
}

int SetThreads(rlegolomb_encoder* encoder, int threads) {
  const int count = threads == 1 ? 1 : rlegolomb_encoder_set_threads(encoder, threads);
  if (count < 1) {
    RaiseStatus(static_cast<rlegolomb_status>(count));
  }
  return count;
}

// Takes a lock, waiting for it with the GIL released so that the thread that holds it can finish.
// Taken only after the arguments have been read, so no Python code runs under it.
class ObjectLock {
 public:
  explicit ObjectLock(std::mutex& mutex) : mutex_(mutex) {
    if (!mutex_.try_lock()) {
      ReleasedGil gil(true);
      mutex_.lock();
    }
  }
  ~ObjectLock() { mutex_.unlock(); }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;

 private:
  std::mutex& mutex_;
};

// ---- One-shot functions -------------------------------------------------------------------------

// The whole stream of size bytes at data, with k (0..255) or k chosen (-1), the encoder on
// `threads` threads.
PyObject* CompressWhole(const unsigned char* data, size_t size, int k, int threads) {
  if (k < 0) {
    // rlegolomb_choose_k rather than a sizer of our own: the library tallies a small input
    // without allocating a sizer at all. Should another thread change the data before the
    // encoder reads it, the stream is still the one of the bytes the encoder read.
    ReleasedGil gil(WorthReleasing(size, 0));
    k = rlegolomb_choose_k(data, size);
  }
  if (k < 0) {
    throw std::bad_alloc();  // the library's sizer could not be allocated
  }
  // One pass into growing room: the library's bound (up to 33 bytes per input byte at k = 0)
  // would reserve far more than the stream takes.
  EncoderPtr encoder = NewEncoder(k);
  const int count = SetThreads(encoder.get(), threads);
  BytesBuilder out(FirstRoom(size, kSizeMax, count));
  rlegolomb_in in{data, size, 0};
  rlegolomb_status status = Drain(encoder.get(), rlegolomb_encode, in, 1, out, kSizeMax);
  if (status != RLEGOLOMB_DONE) {
    RaiseStatus(status);
  }
  return out.Finish();
}

constexpr Parameters<3> kCompressParameters{"compress", {"data", "k", "threads"}, 2, 1, 1};

PyObject* Compress(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return Guarded([&] {
    auto [data, k_arg, threads_arg] = ParseArguments(kCompressParameters, args, nargs, kwnames);
    int k = KArgument(k_arg, true);
    int threads = ThreadsArgument(threads_arg);
    Buffer src(data);
    return CompressWhole(src.data(), src.size(), k, threads);
  });
}

constexpr Parameters<4> kDecompressParameters{
    "decompress", {"data", "max_output", "max_length", "threads"}, 2, 1, 1};

// One decoding pass straight into the result, whose room grows (realloc, which moves pages rather
// than bytes at large sizes) and is cut to the length at the end. Sizing the result first with
// rlegolomb_expanded_bits would cost a second pass over the stream; with max_output, the room
// stops at the cap and a byte, so time and memory stay within the cap whatever the stream would
// expand to.
PyObject* Decompress(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return Guarded([&] {
    auto [data, max_output_arg, max_length_arg, threads_arg] =
        ParseArguments(kDecompressParameters, args, nargs, kwnames);
    std::optional<uint64_t> max_output =
        TotalCapArgument("decompress", max_output_arg, max_length_arg);
    int threads = ThreadsArgument(threads_arg);
    Buffer src(data);
    DecoderPtr decoder = NewDecoder();
    const int count = SetThreads(decoder.get(), threads);
    size_t max_room = max_output ? RoomForLimit(*max_output) : kSizeMax;
    BytesBuilder out(FirstRoom(src.size(), max_room, count));
    rlegolomb_in in = src.input();
    rlegolomb_status status = Drain(decoder.get(), rlegolomb_decode, in, 1, out, max_room);
    if (max_output && out.length() > *max_output) {
      RaiseLimit(*max_output);
    }
    if (status != RLEGOLOMB_DONE) {
      RaiseStatus(status);
    }
    return out.Finish();
  });
}

PyObject* ExpandedBits(PyObject*, PyObject* data) {
  return Guarded([&] {
    Buffer src(data);
    uint64_t bits = 0;
    {
      ReleasedGil gil(WorthReleasing(src.size(), 0));
      bits = rlegolomb_expanded_bits(src.data(), src.size());
    }
    return PyLong_FromUnsignedLongLong(bits);
  });
}

PyObject* ChooseK(PyObject*, PyObject* data) {
  return Guarded([&] {
    Buffer src(data);
    int k = 0;
    {
      ReleasedGil gil(WorthReleasing(src.size(), 0));
      k = rlegolomb_choose_k(src.data(), src.size());
    }
    if (k < 0) {
      RaiseStatus(RLEGOLOMB_ERROR_ARGUMENT);
    }
    return PyLong_FromLong(k);
  });
}

// expand_prefix(data, bits, threads=1): the first (bits + 7) // 8 bytes of the expansion, decoding
// no further than that (plus a byte): a long stream costs only its prefix. ValueError when the
// expansion is shorter than `bits` bits.
PyObject* ExpandPrefix(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return Guarded([&]() -> PyObject* {
    if (nargs != 2 && nargs != 3) {
      PyErr_Format(PyExc_TypeError, "expand_prefix() takes 2 or 3 arguments (%zd given)", nargs);
      throw PythonError{};
    }
    uint64_t bits = *CountArgument(args[1], "bits", false);
    int threads = ThreadsArgument(nargs == 3 ? args[2] : nullptr);
    Buffer src(args[0]);
    if (bits == 0) {
      return PyBytes_FromStringAndSize(nullptr, 0);
    }
    uint64_t wanted = BytesOfBits(bits);
    if (wanted >= static_cast<uint64_t>(std::numeric_limits<Py_ssize_t>::max())) {
      PyErr_Format(PyExc_ValueError, "the stream holds fewer than the %llu bits asked for",
                   static_cast<unsigned long long>(bits));
      throw PythonError{};
    }
    DecoderPtr decoder = NewDecoder();
    const int count = SetThreads(decoder.get(), threads);
    // One byte of room past the prefix tells a longer expansion from one that ends inside it; the
    // room grows with the expansion, so a shape far larger than it takes no memory of its size.
    size_t max_room = RoomForLimit(wanted);
    BytesBuilder out(FirstRoom(src.size(), max_room, count));
    rlegolomb_in in = src.input();
    rlegolomb_status status = Drain(decoder.get(), rlegolomb_decode, in, 1, out, max_room);
    if (status == RLEGOLOMB_DONE) {
      uint64_t have = rlegolomb_decoder_bits(decoder.get());
      if (have < bits) {
        PyErr_Format(PyExc_ValueError, "the stream holds %llu bits, fewer than the %llu asked for",
                     static_cast<unsigned long long>(have), static_cast<unsigned long long>(bits));
        throw PythonError{};
      }
    } else if (status != RLEGOLOMB_MORE) {
      RaiseStatus(status);
    }
    out.set_length(static_cast<size_t>(wanted));
    return out.Finish();
  });
}

// expand_into(data, out, threads=1): expands the stream into the writable buffer out, which it
// must fill exactly; returns the byte count. For codecs that are handed their destination
// (numcodecs).
PyObject* ExpandInto(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return Guarded([&]() -> PyObject* {
    if (nargs != 2 && nargs != 3) {
      PyErr_Format(PyExc_TypeError, "expand_into() takes 2 or 3 arguments (%zd given)", nargs);
      throw PythonError{};
    }
    int threads = ThreadsArgument(nargs == 3 ? args[2] : nullptr);
    Buffer src(args[0]);
    Buffer dst(args[1], PyBUF_WRITABLE);
    size_t size = 0;
    rlegolomb_status status;
    {
      ReleasedGil gil(WorthReleasing(src.size(), dst.size()));
      void* room = dst.size() > 0 ? dst.writable() : nullptr;
      status = threads == 1
                   ? rlegolomb_expand(src.data(), src.size(), room, dst.size(), &size)
                   : rlegolomb_expand_mt(src.data(), src.size(), room, dst.size(), &size, threads);
    }
    if (status == RLEGOLOMB_ERROR_LIMIT) {
      PyErr_Format(PyExc_ValueError, "the expansion is larger than the %zu bytes of out",
                   dst.size());
      throw PythonError{};
    }
    if (status != RLEGOLOMB_DONE) {
      RaiseStatus(status);
    }
    if (size != dst.size()) {
      PyErr_Format(PyExc_ValueError, "the expansion has %zu bytes, out has %zu", size, dst.size());
      throw PythonError{};
    }
    return PyLong_FromSize_t(size);
  });
}

// ---- Streaming objects --------------------------------------------------------------------------

// The state of a Compressor, made by __init__. All of it is used under the lock.
struct CompressorState {
  CompressorState(int k_arg, int threads_arg)
      : k(k_arg), threads(threads_arg), encoder(nullptr, rlegolomb_encoder_free) {
    if (k >= 0) {
      encoder = NewEncoder(k);
      threads = SetThreads(encoder.get(), threads);
    }
  }

  std::mutex mutex;
  int k;                             // 0..255, or -1 until flush() chooses it
  int threads;                       // as asked, or the count the encoder uses once there is one
  EncoderPtr encoder;                // null while k is to be chosen
  std::vector<unsigned char> input;  // the whole input while k is to be chosen
  bool flushed = false;
  bool broken = false;  // a call ran out of memory: input may have been lost
};

struct CompressorObject {
  PyObject_HEAD CompressorState* state;  // null until __init__
};

// The state of a Decompressor, made by __init__. All of it is used under the lock.
struct DecompressorState {
  DecompressorState(std::optional<uint64_t> cap, int threads_arg)
      : max_output(cap), decoder(NewDecoder()), threads(SetThreads(decoder.get(), threads_arg)) {}

  std::mutex mutex;
  std::optional<uint64_t> max_output;  // the cap on the whole expansion, in bytes
  DecoderPtr decoder;
  int threads;                            // the count the decoder uses
  uint64_t written = 0;                   // bytes returned so far (<= *max_output)
  std::vector<unsigned char> unconsumed;  // input held back by a per-call max_length
  bool needs_input = true;
  bool eof = false;
  bool over_limit = false;  // the expansion passed max_output
  bool broken = false;      // a call ran out of memory: input or output may have been lost
};

struct DecompressorObject {
  PyObject_HEAD DecompressorState* state;  // null until __init__
};

template <typename Object>
auto* StateOf(PyObject* self, const char* type) {
  auto* state = reinterpret_cast<Object*>(self)->state;
  if (state == nullptr) {
    PyErr_Format(PyExc_TypeError, "%s.__init__() was not called", type);
    throw PythonError{};
  }
  return state;
}

// Runs a method's body under the object's lock; a call that runs out of memory leaves the object
// broken, since the library may have taken input whose output could not be kept.
template <typename State, typename Body>
PyObject* Locked(State* state, const char* type, Body body) {
  ObjectLock lock(state->mutex);
  if (state->broken) {
    PyErr_Format(PyExc_ValueError, "%s cannot be used after a call ran out of memory", type);
    throw PythonError{};
  }
  try {
    return body();
  } catch (const std::bad_alloc&) {
    state->broken = true;
    throw;
  } catch (const PythonError&) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
      state->broken = true;
    }
    throw;
  }
}

template <typename Object, typename State>
int InitOnce(PyObject* self, const char* type, State* state) {
  auto* object = reinterpret_cast<Object*>(self);
  if (object->state != nullptr) {
    delete state;
    PyErr_Format(PyExc_TypeError, "%s.__init__() may be called only once", type);
    return -1;
  }
  object->state = state;
  return 0;
}

// A heap type's instance holds a reference to its type, given back here.
template <typename Object>
void Dealloc(PyObject* self) {
  delete reinterpret_cast<Object*>(self)->state;
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// -- Compressor

int CompressorInit(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"k", "threads", nullptr};
  PyObject* k_arg = nullptr;
  PyObject* threads_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O$O:Compressor", const_cast<char**>(names),
                                   &k_arg, &threads_arg)) {
    return -1;
  }
  CompressorState* state = nullptr;
  if (Guarded([&] {
        const int k = KArgument(k_arg, true);
        state = new CompressorState(k, ThreadsArgument(threads_arg));
        return Py_None;
      }) == nullptr) {
    return -1;
  }
  return InitOnce<CompressorObject>(self, "Compressor", state);
}

// Encodes `in` into a new bytes object; the stream so far, or its rest when final.
PyObject* Encode(CompressorState& s, rlegolomb_in& in, int final) {
  BytesBuilder out(FirstRoom(in.size, kSizeMax, s.threads));
  rlegolomb_status status = Drain(s.encoder.get(), rlegolomb_encode, in, final, out, kSizeMax);
  if (status != (final ? RLEGOLOMB_DONE : RLEGOLOMB_MORE)) {
    RaiseStatus(status);
  }
  return out.Finish();
}

PyObject* CompressorCompress(PyObject* self, PyObject* data) {
  return Guarded([&] {
    CompressorState* s = StateOf<CompressorObject>(self, "Compressor");
    Buffer src(data);
    return Locked(s, "Compressor", [&] {
      if (s->flushed) {
        Raise(PyExc_ValueError, "Compressor has been flushed");
      }
      if (!s->encoder) {
        s->input.insert(s->input.end(), src.data(), src.data() + src.size());
        return PyBytes_FromStringAndSize(nullptr, 0);
      }
      rlegolomb_in in = src.input();
      return Encode(*s, in, 0);
    });
  });
}

PyObject* CompressorFlush(PyObject* self, PyObject*) {
  return Guarded([&] {
    CompressorState* s = StateOf<CompressorObject>(self, "Compressor");
    return Locked(s, "Compressor", [&] {
      if (s->flushed) {
        Raise(PyExc_ValueError, "Repeated call to flush()");
      }
      PyObject* result;
      if (!s->encoder) {
        {
          ReleasedGil gil(WorthReleasing(s->input.size(), 0));
          s->k = rlegolomb_choose_k(s->input.data(), s->input.size());
        }
        if (s->k < 0) {
          throw std::bad_alloc();
        }
        result = CompressWhole(s->input.data(), s->input.size(), s->k, s->threads);
        std::vector<unsigned char>().swap(s->input);
      } else {
        rlegolomb_in in{&empty_input, 0, 0};
        result = Encode(*s, in, 1);
      }
      s->flushed = true;
      return result;
    });
  });
}

PyObject* CompressorK(PyObject* self, void*) {
  return Guarded([&] {
    CompressorState* s = StateOf<CompressorObject>(self, "Compressor");
    ObjectLock lock(s->mutex);
    return s->k >= 0 ? PyLong_FromLong(s->k) : Py_NewRef(Py_None);
  });
}

// -- Decompressor

int DecompressorInit(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"max_output", "max_length", "threads", nullptr};
  PyObject* max_output = nullptr;
  PyObject* max_length = nullptr;
  PyObject* threads_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O$OO:Decompressor", const_cast<char**>(names),
                                   &max_output, &max_length, &threads_arg)) {
    return -1;
  }
  DecompressorState* state = nullptr;
  if (Guarded([&] {
        std::optional<uint64_t> cap = TotalCapArgument("Decompressor", max_output, max_length);
        state = new DecompressorState(cap, ThreadsArgument(threads_arg));
        return Py_None;
      }) == nullptr) {
    return -1;
  }
  return InitOnce<DecompressorObject>(self, "Decompressor", state);
}

// Decodes `in` into a new bytes object of at most `cap` bytes, within max_output, and sets
// needs_input.
PyObject* Decode(DecompressorState& s, rlegolomb_in& in, int final, size_t cap) {
  if (s.over_limit) {
    RaiseLimit(*s.max_output);
  }
  // s.written <= *s.max_output here
  const size_t limit_room = s.max_output ? RoomForLimit(*s.max_output - s.written) : kSizeMax;
  const size_t max_room = std::min(cap, limit_room);
  BytesBuilder out(FirstRoom(in.size - in.pos, max_room, s.threads));
  rlegolomb_status status = Drain(s.decoder.get(), rlegolomb_decode, in, final, out, max_room);
  if (status < 0) {
    RaiseStatus(status);
  }
  if (s.max_output && out.length() > *s.max_output - s.written) {
    s.over_limit = true;
    RaiseLimit(*s.max_output);
  }
  // With the room full, more output may be waiting inside the decoder.
  s.needs_input = in.pos == in.size && (status == RLEGOLOMB_DONE || out.length() < max_room);
  s.written += out.length();
  return out.Finish();
}

constexpr Parameters<2> kDecompressMethodParameters{
    "Decompressor.decompress", {"data", "max_length"}, 2, 1, 1};

PyObject* DecompressorDecompress(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return Guarded([&] {
    DecompressorState* s = StateOf<DecompressorObject>(self, "Decompressor");
    auto [data, max_length] = ParseArguments(kDecompressMethodParameters, args, nargs, kwnames);
    const size_t cap = PieceCapArgument(max_length);
    Buffer src(data);
    return Locked(s, "Decompressor", [&] {
      if (s->eof) {
        Raise(PyExc_EOFError, "End of stream already reached");
      }
      if (s->unconsumed.empty()) {
        rlegolomb_in in = src.input();
        PyObject* result = Decode(*s, in, 0, cap);
        if (in.pos < in.size) {
          try {
            s->unconsumed.assign(src.data() + in.pos, src.data() + in.size);
          } catch (const std::bad_alloc&) {
            Py_DECREF(result);
            throw;
          }
          s->needs_input = false;
        }
        return result;
      }
      s->unconsumed.insert(s->unconsumed.end(), src.data(), src.data() + src.size());
      rlegolomb_in in{s->unconsumed.data(), s->unconsumed.size(), 0};
      PyObject* result = Decode(*s, in, 0, cap);
      s->unconsumed.erase(s->unconsumed.begin(),
                          s->unconsumed.begin() + static_cast<std::ptrdiff_t>(in.pos));
      s->needs_input = s->needs_input && s->unconsumed.empty();
      return result;
    });
  });
}

PyObject* DecompressorFlush(PyObject* self, PyObject*) {
  return Guarded([&] {
    DecompressorState* s = StateOf<DecompressorObject>(self, "Decompressor");
    return Locked(s, "Decompressor", [&] {
      if (s->eof) {
        return PyBytes_FromStringAndSize(nullptr, 0);
      }
      rlegolomb_in in = s->unconsumed.empty()
                            ? rlegolomb_in{&empty_input, 0, 0}
                            : rlegolomb_in{s->unconsumed.data(), s->unconsumed.size(), 0};
      PyObject* result = Decode(*s, in, 1, kSizeMax);
      std::vector<unsigned char>().swap(s->unconsumed);
      s->eof = true;
      s->needs_input = false;
      return result;
    });
  });
}

// A property read under the lock.
template <typename Read>
PyObject* DecompressorProperty(PyObject* self, Read read) {
  return Guarded([&] {
    DecompressorState* s = StateOf<DecompressorObject>(self, "Decompressor");
    ObjectLock lock(s->mutex);
    return read(*s);
  });
}

PyObject* DecompressorEof(PyObject* self, void*) {
  return DecompressorProperty(self, [](DecompressorState& s) { return PyBool_FromLong(s.eof); });
}

PyObject* DecompressorNeedsInput(PyObject* self, void*) {
  return DecompressorProperty(self,
                              [](DecompressorState& s) { return PyBool_FromLong(s.needs_input); });
}

PyObject* DecompressorUnusedData(PyObject* self, void*) {
  // A stream has no end marker: every byte given belongs to it, and none is ever left over.
  return DecompressorProperty(
      self, [](DecompressorState&) { return PyBytes_FromStringAndSize(nullptr, 0); });
}

PyObject* DecompressorBits(PyObject* self, void*) {
  return DecompressorProperty(self, [](DecompressorState& s) {
    return PyLong_FromUnsignedLongLong(rlegolomb_decoder_bits(s.decoder.get()));
  });
}

PyObject* MaxOutputValue(const DecompressorState& s) {
  return s.max_output ? PyLong_FromUnsignedLongLong(*s.max_output) : Py_NewRef(Py_None);
}

PyObject* DecompressorMaxOutput(PyObject* self, void*) {
  return DecompressorProperty(self, MaxOutputValue);
}

PyObject* DecompressorMaxLength(PyObject* self, void*) {
  if (PyErr_WarnEx(PyExc_DeprecationWarning,
                   "Decompressor.max_length is deprecated; the total cap is max_output", 1) < 0) {
    return nullptr;
  }
  return DecompressorProperty(self, MaxOutputValue);
}

// ---- Module -------------------------------------------------------------------------------------

template <typename Function>
PyCFunction AsCFunction(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The docstrings carry their own signature lines, in CPython's form (name(args)\n--\n\n), which
// inspect.signature() reads.
PyMethodDef module_methods[] = {
    {"compress", AsCFunction(Compress), METH_FASTCALL | METH_KEYWORDS,
     "compress($module, data, /, k=None, *, threads=1)\n--\n\n"
     "Compress data, a bytes-like object, into an RLE_Golomb stream.\n\n"
     "k is the code's exponent (m = 2**k), an integer from 0 to 255; None chooses the k of\n"
     "the smallest stream (the smaller k on a tie), as rle-golomb-compress does without k.\n"
     "The result is the stream that rle-golomb-compress writes for the same bytes and k.\n"
     "threads is how many threads may encode it: 1 (the default) the calling thread alone,\n"
     "0 one per processor available, n at most n; the stream is the same for every count.\n"
     "Raises TypeError for a data object that is not bytes-like or a k that is not an\n"
     "integer, ValueError for a k outside 0..255 or a negative threads."},
    {"decompress", AsCFunction(Decompress), METH_FASTCALL | METH_KEYWORDS,
     "decompress($module, data, /, max_output=None, *, threads=1)\n--\n\n"
     "Expand an RLE_Golomb stream, data, a bytes-like object, and return the bytes.\n\n"
     "The result is what rle-golomb-expand writes for the same stream: the expansion with\n"
     "its last byte completed by zero bits. Every byte string is a valid stream.\n"
     "With max_output (an integer >= 0), OutputLimitError is raised when the expansion\n"
     "would have more than max_output bytes: decoding stops as soon as it passes them,\n"
     "so time and memory stay within max_output, whatever the stream would expand to.\n"
     "The old keyword max_length= means the same, and is deprecated.\n"
     "threads is how many threads may decode it: 1 (the default) the calling thread alone,\n"
     "0 one per processor available, n at most n; the result is the same for every count,\n"
     "and threads help streams of more than 128 KiB. ValueError for a negative threads."},
    {"expanded_bits", ExpandedBits, METH_O,
     "expanded_bits($module, data, /)\n--\n\n"
     "The exact length in bits of the expansion of the stream data, before the zero fill\n"
     "of its last byte. decompress(data) has (expanded_bits(data) + 7) // 8 bytes."},
    {"choose_k", ChooseK, METH_O,
     "choose_k($module, data, /)\n--\n\n"
     "The k (0..63) whose stream of data is the smallest in bytes, the smaller k on a tie:\n"
     "the k that compress(data) and rle-golomb-compress use when no k is given."},
    {"expand_prefix", AsCFunction(ExpandPrefix), METH_FASTCALL,
     "expand_prefix($module, data, bits, threads=1, /)\n--\n\n"
     "The first (bits + 7) // 8 bytes of the expansion of data, decoding no further than\n"
     "needed, on threads threads (as for decompress()). ValueError when the expansion has\n"
     "fewer than bits bits. Used by decompress_array()."},
    {"expand_into", AsCFunction(ExpandInto), METH_FASTCALL,
     "expand_into($module, data, out, threads=1, /)\n--\n\n"
     "Expand the stream data into out, a writable contiguous buffer that the expansion must\n"
     "fill exactly, on threads threads (as for decompress()); return its length.\n"
     "ValueError when the sizes differ. Used by the numcodecs codec."},
    {nullptr, nullptr, 0, nullptr}};

PyMethodDef compressor_methods[] = {
    {"compress", CompressorCompress, METH_O,
     "compress($self, data, /)\n--\n\n"
     "Take the next piece of input (a bytes-like object, possibly empty) and return the\n"
     "part of the stream that is complete so far (possibly b''). ValueError after flush()."},
    {"flush", CompressorFlush, METH_NOARGS,
     "flush($self, /)\n--\n\n"
     "End the input and return the rest of the stream. The compressor cannot be used\n"
     "afterwards: compress() and flush() then raise ValueError, as in bz2 and lzma."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef compressor_getset[] = {
    {"k", CompressorK, nullptr, "The stream's k: as given, or None until flush() has chosen it.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyMethodDef decompressor_methods[] = {
    {"decompress", AsCFunction(DecompressorDecompress), METH_FASTCALL | METH_KEYWORDS,
     "decompress($self, data, /, max_length=-1)\n--\n\n"
     "Take the next piece of the stream (a bytes-like object, possibly empty) and return\n"
     "the whole bytes of the expansion decoded so far (possibly b''), as bz2 and lzma do.\n\n"
     "With max_length >= 0, at most max_length bytes are returned; the rest of the\n"
     "expansion, and any input not yet used, stay inside: needs_input is then False, and\n"
     "the next call may give b'' to get more. A stream of any expansion can so be read in\n"
     "pieces of bounded size. After flush(), EOFError ('End of stream already reached')."},
    {"flush", DecompressorFlush, METH_NOARGS,
     "flush($self, /)\n--\n\n"
     "End the stream: return the rest of the expansion (the code cut off by the end is\n"
     "dropped and the last byte is completed with zero bits) and set eof and bits.\n"
     "Further calls return b''. The rest includes what a max_length held back: to keep\n"
     "pieces bounded, call decompress(b'', max_length) until needs_input is True first;\n"
     "flush() then gives at most one byte."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef decompressor_getset[] = {
    {"eof", DecompressorEof, nullptr,
     "True once flush() has been called: a stream has no end marker, so only the caller\n"
     "knows where it ends.",
     nullptr},
    {"needs_input", DecompressorNeedsInput, nullptr,
     "False when decompress() can give more of the expansion without new input (a\n"
     "max_length held it back); True otherwise, until eof.",
     nullptr},
    {"unused_data", DecompressorUnusedData, nullptr,
     "Always b'': a stream has no end marker, so every byte given is part of it.", nullptr},
    {"bits", DecompressorBits, nullptr,
     "The length in bits of the expansion decoded so far, before the zero fill; once eof\n"
     "is True, the exact length of the whole expansion (as expanded_bits() gives it).",
     nullptr},
    {"max_output", DecompressorMaxOutput, nullptr,
     "The cap on the whole expansion in bytes, as given (None: no cap).", nullptr},
    {"max_length", DecompressorMaxLength, nullptr, "Deprecated: max_output, under its old name.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

const char compressor_doc[] =
    "Compressor(k=None, *, threads=1)\n--\n\n"
    "A compressor that takes its input in pieces, as zlib.compressobj does.\n\n"
    "Call compress() with each piece, then flush() once; the joined results are\n"
    "compress(whole input, k), however the input was cut. k is an integer from 0 to 255;\n"
    "None chooses it, which needs all of the input: compress() then keeps the pieces and\n"
    "returns b'', and flush() returns the whole stream. Give k to stream in constant memory.\n"
    "threads is how many threads may encode (1, the default: the calling thread alone; 0:\n"
    "one per processor available); the joined stream is the same for every count, though\n"
    "with threads compress() may return it in other pieces (an encoder with threads may\n"
    "keep input back until it has enough to share out). Threads help pieces of a few MiB.\n"
    "An object may be shared between threads; its calls then take turns.";

PyType_Slot compressor_slots[] = {
    {Py_tp_doc, const_cast<char*>(compressor_doc)},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_init, reinterpret_cast<void*>(CompressorInit)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Dealloc<CompressorObject>)},
    {Py_tp_methods, compressor_methods},
    {Py_tp_getset, compressor_getset},
    {0, nullptr}};

PyType_Spec compressor_spec = {"rlegolomb.Compressor", sizeof(CompressorObject), 0,
                               Py_TPFLAGS_DEFAULT, compressor_slots};

const char decompressor_doc[] =
    "Decompressor(max_output=None, *, threads=1)\n--\n\n"
    "A decompressor that takes a stream in pieces, as bz2.BZ2Decompressor does.\n\n"
    "Call decompress() with each piece, then flush() once the stream has ended: a stream\n"
    "has no end marker, so only flush() completes the last byte. The joined results are\n"
    "decompress(whole stream), however the stream was cut.\n"
    "max_output (an integer >= 0, or None for no cap) caps the whole expansion: the call\n"
    "that would pass it raises OutputLimitError, and so does every later call. The old\n"
    "keyword max_length= means the same, and is deprecated. decompress(data, max_length)\n"
    "caps each call's result instead, as in bz2 and lzma.\n"
    "threads is how many threads may decode (1, the default: the calling thread alone; 0:\n"
    "one per processor available); the results are the same for every count. Threads help\n"
    "calls that bring at least 128 KiB of the stream: give pieces of a few MiB.\n"
    "An object may be shared between threads; its calls then take turns.";

PyType_Slot decompressor_slots[] = {
    {Py_tp_doc, const_cast<char*>(decompressor_doc)},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_init, reinterpret_cast<void*>(DecompressorInit)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Dealloc<DecompressorObject>)},
    {Py_tp_methods, decompressor_methods},
    {Py_tp_getset, decompressor_getset},
    {0, nullptr}};

PyType_Spec decompressor_spec = {"rlegolomb.Decompressor", sizeof(DecompressorObject), 0,
                                 Py_TPFLAGS_DEFAULT, decompressor_slots};

// ---- Random access: the reader behind rlegolomb.open()
// -------------------------------------------

using IndexPtr = std::unique_ptr<rlegolomb_index, decltype(&rlegolomb_index_free)>;

// A stream held in memory (a bytes-like object whose buffer stays held), read from any offset of
// its expansion. With an index, a seek starts at the checkpoint before the offset; without one,
// reading from the start builds one on the way, and a seek that comes before it is complete
// builds it in one pass.
struct ReaderState {
  ReaderState() : decoder(NewDecoder()), index(nullptr, rlegolomb_index_free) {}
  ~ReaderState() { PyBuffer_Release(&view); }

  std::mutex mutex;
  Py_buffer view{};
  const unsigned char* data = &empty_input;
  size_t size = 0;
  DecoderPtr decoder;
  IndexPtr index;
  uint64_t spacing = 0;   // of the index built when none was given (0: the library's)
  size_t input_pos = 0;   // the next stream byte to give the decoder
  uint64_t position = 0;  // the expansion byte the next read starts at
  bool at_end = false;    // the decoder is done: nothing more from here
  bool broken = false;    // never set: Locked() needs the field
};

struct ReaderObject {
  PyObject_HEAD ReaderState* state;
};

IndexPtr LoadIndex(PyObject* bytes) {
  Buffer saved(bytes);
  IndexPtr index(rlegolomb_index_load(saved.data(), saved.size()), rlegolomb_index_free);
  if (!index) {
    Raise(PyExc_ValueError, "not an index, or a damaged one");
  }
  return index;
}

// _Reader(data, index=None, spacing=0, threads=1)
int ReaderInit(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"data", "index", "spacing", "threads", nullptr};
  PyObject* data = nullptr;
  PyObject* index = Py_None;
  unsigned long long spacing = 0;
  PyObject* threads_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OKO:_Reader", const_cast<char**>(names), &data,
                                   &index, &spacing, &threads_arg)) {
    return -1;
  }
  ReaderState* state = nullptr;
  if (Guarded([&] {
        const int threads = ThreadsArgument(threads_arg);
        auto fresh = std::make_unique<ReaderState>();
        // Before the index and any seek: a decoder takes threads only at a stream's start.
        SetThreads(fresh->decoder.get(), threads);
        if (PyObject_GetBuffer(data, &fresh->view, PyBUF_SIMPLE) != 0) {
          throw PythonError{};
        }
        fresh->size = static_cast<size_t>(fresh->view.len);
        if (fresh->size > 0) {
          fresh->data = static_cast<const unsigned char*>(fresh->view.buf);
        }
        fresh->spacing = spacing;
        if (index != Py_None) {
          fresh->index = LoadIndex(index);
          if (rlegolomb_index_check_stream(fresh->index.get(), fresh->data, fresh->size) !=
              RLEGOLOMB_DONE) {
            Raise(PyExc_ValueError, "the index is of another stream");
          }
        } else if (rlegolomb_decoder_build_index(fresh->decoder.get(), spacing) != RLEGOLOMB_DONE) {
          throw std::bad_alloc();
        }
        state = fresh.release();
        return Py_None;
      }) == nullptr) {
    return -1;
  }
  return InitOnce<ReaderObject>(self, "_Reader", state);
}

// Makes sure the reader has an index: the one being built, once reading reached the end, or one
// built now in a pass of its own.
void EnsureIndex(ReaderState& s) {
  if (s.index) {
    return;
  }
  s.index.reset(rlegolomb_decoder_take_index(s.decoder.get()));
  if (!s.index) {
    ReleasedGil released(WorthReleasing(s.size, 0));
    s.index.reset(rlegolomb_index_build(s.data, s.size, s.spacing));
  }
  if (!s.index) {
    throw std::bad_alloc();
  }
}

// Places the reader's decoder at byte `offset` of the expansion, through its index.
void PlaceReader(ReaderState& s, uint64_t offset) {
  uint64_t input_pos = 0;
  rlegolomb_decoder_seek(s.decoder.get(), s.index.get(), offset, &input_pos);
  s.input_pos = static_cast<size_t>(std::min<uint64_t>(input_pos, s.size));
  s.position = offset;
  s.at_end = false;
}

// seek(offset): the next read starts at byte offset of the expansion.
PyObject* ReaderSeek(PyObject* self, PyObject* offset_arg) {
  return Guarded([&] {
    ReaderState* s = StateOf<ReaderObject>(self, "_Reader");
    const uint64_t offset = *CountArgument(offset_arg, "offset", false);
    return Locked(s, "_Reader", [&] {
      if (offset == s->position) {
        Py_RETURN_NONE;
      }
      EnsureIndex(*s);
      PlaceReader(*s, offset);
      Py_RETURN_NONE;
    });
  });
}

// read(n): up to n bytes from the position on (fewer only at the end of the expansion).
PyObject* ReaderRead(PyObject* self, PyObject* count_arg) {
  return Guarded([&] {
    ReaderState* s = StateOf<ReaderObject>(self, "_Reader");
    const uint64_t count = *CountArgument(count_arg, "n", false);
    return Locked(s, "_Reader", [&] {
      if (s->at_end || count == 0) {
        return PyBytes_FromStringAndSize(nullptr, 0);
      }
      // No more room than the expansion has left, when the index tells.
      uint64_t wanted = count;
      if (s->index) {
        const uint64_t total = BytesOfBits(rlegolomb_index_expanded_bits(s->index.get()));
        wanted = std::min(wanted, total > s->position ? total - s->position : 0);
        if (wanted == 0) {
          return PyBytes_FromStringAndSize(nullptr, 0);
        }
      }
      const size_t room = static_cast<size_t>(std::min<uint64_t>(
          wanted, static_cast<uint64_t>(std::numeric_limits<Py_ssize_t>::max())));
      BytesBuilder out(room);
      rlegolomb_in in{s->data, s->size, s->input_pos};
      rlegolomb_out dst{out.data(), room, 0};
      rlegolomb_status status;
      {
        ReleasedGil released(WorthReleasing(0, room));
        status = rlegolomb_decode(s->decoder.get(), &dst, &in, 1);
      }
      if (status < 0) {
        RaiseStatus(status);
      }
      s->input_pos = in.pos;
      s->position += dst.pos;
      s->at_end = status == RLEGOLOMB_DONE;
      out.set_length(dst.pos);
      return out.Finish();
    });
  });
}

// index(): the saved form of the reader's index, made now if it has none.
PyObject* ReaderIndex(PyObject* self, PyObject*) {
  return Guarded([&] {
    ReaderState* s = StateOf<ReaderObject>(self, "_Reader");
    return Locked(s, "_Reader", [&] {
      EnsureIndex(*s);
      const size_t size = rlegolomb_index_save(s->index.get(), nullptr, 0);
      BytesBuilder out(size);
      rlegolomb_index_save(s->index.get(), out.data(), size);
      out.set_length(size);
      return out.Finish();
    });
  });
}

// rebuild_index(spacing): replaces the index by one with checkpoints every spacing bytes.
PyObject* ReaderRebuildIndex(PyObject* self, PyObject* spacing_arg) {
  return Guarded([&] {
    ReaderState* s = StateOf<ReaderObject>(self, "_Reader");
    const uint64_t spacing = *CountArgument(spacing_arg, "spacing", false);
    return Locked(s, "_Reader", [&] {
      IndexPtr built(nullptr, rlegolomb_index_free);
      {
        ReleasedGil released(WorthReleasing(s->size, 0));
        built.reset(rlegolomb_index_build(s->data, s->size, spacing));
      }
      if (!built) {
        throw std::bad_alloc();
      }
      // The decoder goes on where it stands, from the new index (it may have been building one).
      const uint64_t position = s->position;
      s->index = std::move(built);
      s->spacing = spacing;
      PlaceReader(*s, position);
      Py_RETURN_NONE;
    });
  });
}

// size(): the expansion's length in bytes (from the index, made now if there is none).
PyObject* ReaderSize(PyObject* self, PyObject*) {
  return Guarded([&] {
    ReaderState* s = StateOf<ReaderObject>(self, "_Reader");
    return Locked(s, "_Reader", [&] {
      EnsureIndex(*s);
      return PyLong_FromUnsignedLongLong(
          BytesOfBits(rlegolomb_index_expanded_bits(s->index.get())));
    });
  });
}

PyObject* ReaderRelease(PyObject* self, PyObject*) {
  return Guarded([&] {
    ReaderState* s = StateOf<ReaderObject>(self, "_Reader");
    ObjectLock lock(s->mutex);
    PyBuffer_Release(&s->view);
    s->data = &empty_input;
    s->size = 0;
    s->input_pos = 0;
    s->at_end = true;
    Py_RETURN_NONE;
  });
}

PyMethodDef reader_methods[] = {
    {"seek", ReaderSeek, METH_O, "seek($self, offset, /)\n--\n\nThe next read starts at offset."},
    {"read", ReaderRead, METH_O,
     "read($self, n, /)\n--\n\nUp to n bytes of the expansion from the position on."},
    {"index", ReaderIndex, METH_NOARGS, "index($self, /)\n--\n\nThe index, saved as bytes."},
    {"rebuild_index", ReaderRebuildIndex, METH_O,
     "rebuild_index($self, spacing, /)\n--\n\nA new index with this spacing (0: 1 MiB)."},
    {"size", ReaderSize, METH_NOARGS, "size($self, /)\n--\n\nThe expansion's length in bytes."},
    {"release", ReaderRelease, METH_NOARGS,
     "release($self, /)\n--\n\nLets go of the stream's buffer; reads then give b''."},
    {nullptr, nullptr, 0, nullptr}};

PyType_Slot reader_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("_Reader(data, index=None, spacing=0, threads=1): see rlegolomb.open().")},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_init, reinterpret_cast<void*>(ReaderInit)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Dealloc<ReaderObject>)},
    {Py_tp_methods, reader_methods},
    {0, nullptr}};

PyType_Spec reader_spec = {"rlegolomb._Reader", sizeof(ReaderObject), 0, Py_TPFLAGS_DEFAULT,
                           reader_slots};

// Adds a type made from its description to the module; false with an exception set on failure.
bool AddType(PyObject* module, const char* name, PyType_Spec* description) {
  PyObject* type = PyType_FromSpec(description);
  if (type == nullptr) {
    return false;
  }
  int status = PyModule_AddObjectRef(module, name, type);
  Py_DECREF(type);
  return status == 0;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_rlegolomb",
    "The compiled part of rlegolomb; use the rlegolomb package.",
    -1,
    module_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__rlegolomb() {
  PyObject* module = PyModule_Create(&module_def);
  if (module == nullptr) {
    return nullptr;
  }
  if (output_limit_error == nullptr) {
    output_limit_error = PyErr_NewExceptionWithDoc(
        "rlegolomb.OutputLimitError",
        "The expansion would pass the max_output given to decompress() or Decompressor().\n\n"
        "A subclass of ValueError.",
        PyExc_ValueError, nullptr);
  }
  if (output_limit_error == nullptr ||
      PyModule_AddStringConstant(module, "__version__", rlegolomb_version()) < 0 ||
      PyModule_AddObjectRef(module, "OutputLimitError", output_limit_error) < 0 ||
      !AddType(module, "Compressor", &compressor_spec) ||
      !AddType(module, "Decompressor", &decompressor_spec) ||
      !AddType(module, "_Reader", &reader_spec)) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
