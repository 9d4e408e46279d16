// rlegolomb._rlegolomb: the codec library as a Python module, in the manner of zlib, bz2 and lzma.
//
// Every library call runs with the GIL released. Inputs are read in place through the buffer
// protocol (the views stay held across the call); results are written straight into the bytes
// objects that are returned, sized exactly beforehand where that costs no extra pass (compress()
// choosing k) and otherwise grown in place (realloc) and cut to their length at the end. The
// numpy functions live in rlegolomb/__init__.py, over compress() and expand_prefix().
#include <pybind11/pybind11.h>

#include <rlegolomb.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace py = pybind11;

namespace {

// rlegolomb.OutputLimitError, created at import.
PyObject* output_limit_error = nullptr;

[[noreturn]] void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

[[noreturn]] void raise_status(rlegolomb_status status) {
  if (status == RLEGOLOMB_ERROR_MEMORY) {
    raise(PyExc_MemoryError, "rlegolomb: out of memory");
  }
  raise(PyExc_SystemError,
        std::string("rlegolomb: unexpected library status: ") + rlegolomb_status_text(status));
}

std::string type_name(py::handle obj) { return Py_TYPE(obj.ptr())->tp_name; }

// The address handed to the library for an empty input, which may have no address of its own.
const unsigned char empty_input = 0;

// A C-contiguous, read-only view of a bytes-like object, released on destruction (with the GIL
// held). A str, a number or any other object without the buffer protocol raises TypeError, a
// non-contiguous buffer BufferError, as zlib does.
class BufferView {
 public:
  explicit BufferView(py::handle obj) {
    if (PyObject_GetBuffer(obj.ptr(), &view_, PyBUF_SIMPLE) != 0) {
      throw py::error_already_set();
    }
  }
  ~BufferView() { PyBuffer_Release(&view_); }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;

  const void* data() const { return view_.len > 0 ? view_.buf : &empty_input; }
  size_t size() const { return static_cast<size_t>(view_.len); }
  rlegolomb_in input() const { return rlegolomb_in{data(), size(), 0}; }

 private:
  Py_buffer view_{};
};

// A bytes object being filled: room grows in place, and finish() shrinks it to what was written.
class BytesBuilder {
 public:
  explicit BytesBuilder(size_t capacity) {
    capacity = std::max<size_t>(capacity, 1);
    check_size(capacity);
    obj_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
    if (obj_ == nullptr) {
      throw py::error_already_set();
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
  void grow(size_t wanted, size_t max_capacity) {
    size_t step = wanted > capacity_ ? capacity_ / 4 : capacity_;
    size_t capacity = capacity_ > max_capacity - step ? max_capacity : capacity_ + step;
    capacity = std::min(std::max(capacity, wanted), max_capacity);
    resize(capacity);
    capacity_ = capacity;
  }

  py::bytes finish() {
    if (length_ != capacity_) {
      resize(length_);
      capacity_ = length_;
    }
    PyObject* obj = obj_;
    obj_ = nullptr;
    return py::reinterpret_steal<py::bytes>(obj);
  }

 private:
  static void check_size(size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<Py_ssize_t>::max())) {
      raise(PyExc_MemoryError, "rlegolomb: the result does not fit in memory");
    }
  }
  void resize(size_t size) {
    check_size(size);
    if (_PyBytes_Resize(&obj_, static_cast<Py_ssize_t>(size)) != 0) {
      throw py::error_already_set();  // obj_ is null now; MemoryError is set
    }
  }

  PyObject* obj_ = nullptr;
  size_t capacity_ = 0;
  size_t length_ = 0;
};

// A first output room for a piece of input: its own size, from 4 KiB to 256 KiB. When it runs
// out, the output per input byte so far estimates the whole (see drain), so that a large result
// takes a reallocation or two, copying little, whatever the expansion's ratio.
size_t initial_room(size_t input_size, size_t max_output) {
  size_t room = std::clamp<size_t>(input_size, 4096, 256 * 1024);
  return std::min(room, std::max<size_t>(max_output, 1));
}

// The whole output, estimated from `made` bytes out of `used` of `total` input bytes, and 1/16
// more; 0 when nothing is known (no input used, or none left: the rest comes from inside).
size_t estimate_output(size_t made, size_t used, size_t total) {
  if (used == 0 || used >= total) {
    return 0;
  }
  double whole = static_cast<double>(made) * static_cast<double>(total) / static_cast<double>(used);
  whole *= 1.0625;
  return whole >= 0x1p63 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(whole) + 4096;
}

// Runs a stream call (rlegolomb_decode or rlegolomb_encode) over all of `in` into `out`, growing
// the room, until the call is done with this input or `out` holds max_output bytes. The return is
// the last status: DONE, MORE (input used up and no more output pending, or out at max_output),
// or an error.
template <typename Object, typename Call>
rlegolomb_status drain(Object* object, Call call, rlegolomb_in& in, int final, BytesBuilder& out,
                       size_t max_output) {
  const size_t first_input = in.pos;
  const size_t first_output = out.length();
  for (;;) {
    rlegolomb_out room{out.data(), std::min(out.capacity(), max_output), out.length()};
    rlegolomb_status status;
    {
      py::gil_scoped_release release;
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
    out.grow(std::max(room.pos + 1, first_output + estimate_output(room.pos - first_output,
                                                                    in.pos - first_input,
                                                                    in.size - first_input)),
             max_output);
  }
}

// ---- Arguments ----------------------------------------------------------------------------------

// An integer argument (int, bool or anything with __index__) as a Python int; TypeError otherwise.
py::int_ index_argument(py::handle value, const char* name, const char* expected) {
  if (!PyIndex_Check(value.ptr())) {
    raise(PyExc_TypeError,
          std::string(name) + " must be " + expected + ", not " + type_name(value));
  }
  PyObject* index = PyNumber_Index(value.ptr());
  if (index == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::int_>(index);
}

// k: 0..255, or None (-1, "choose") where allowed.
int k_argument(py::handle value, bool none_allowed) {
  if (none_allowed && value.is_none()) {
    return -1;
  }
  py::int_ index = index_argument(
      value, "k", none_allowed ? "an integer from 0 to 255 or None" : "an integer from 0 to 255");
  int overflow = 0;
  long long k = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0 || k < 0 || k > 255) {
    raise(PyExc_ValueError,
          "k must be from 0 to 255, not " + py::str(index).cast<std::string>());
  }
  return static_cast<int>(k);
}

// A byte or bit count >= 0, or None (nullopt) where allowed; counts past 2^64 - 1 are clamped
// there, since no expansion reaches them.
std::optional<uint64_t> count_argument(py::handle value, const char* name, bool none_allowed) {
  if (none_allowed && value.is_none()) {
    return std::nullopt;
  }
  py::int_ index = index_argument(value, name,
                                  none_allowed ? "an integer >= 0 or None" : "an integer >= 0");
  int overflow = 0;
  long long small = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    raise(PyExc_ValueError,
          std::string(name) + " must be >= 0, not " + py::str(index).cast<std::string>());
  }
  if (overflow == 0) {
    return static_cast<uint64_t>(small);
  }
  unsigned long long big = PyLong_AsUnsignedLongLong(index.ptr());
  if (big == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return std::numeric_limits<uint64_t>::max();
  }
  return static_cast<uint64_t>(big);
}

uint64_t byte_count(uint64_t bits) { return bits / 8 + (bits % 8 != 0 ? 1 : 0); }


// Takes the object's lock, waiting for it with the GIL released so that the thread that holds it
// can finish. Taken only after the arguments have been read, so no Python code runs under it.
class ObjectLock {
 public:
  explicit ObjectLock(std::mutex& mutex) : mutex_(mutex) {
    if (!mutex_.try_lock()) {
      py::gil_scoped_release release;
      mutex_.lock();
    }
  }
  ~ObjectLock() { mutex_.unlock(); }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;

 private:
  std::mutex& mutex_;
};

// ---- One-shot functions -----------------------------------------------------------------------

using EncoderPtr = std::unique_ptr<rlegolomb_encoder, decltype(&rlegolomb_encoder_free)>;

EncoderPtr new_encoder(int k) {
  EncoderPtr encoder(rlegolomb_encoder_create(k), rlegolomb_encoder_free);
  if (!encoder) {
    throw std::bad_alloc();
  }
  return encoder;
}

py::bytes compress(py::handle data, py::handle k_arg) {
  int k = k_argument(k_arg, true);
  BufferView src(data);
  if (k >= 0) {
    // One pass into growing room: the library's bound (up to 33 bytes per input byte at k = 0)
    // would reserve far more than the stream takes.
    EncoderPtr encoder = new_encoder(k);
    size_t max_output = std::numeric_limits<size_t>::max();
    BytesBuilder out(initial_room(src.size(), max_output));
    rlegolomb_in in = src.input();
    rlegolomb_status status = drain(encoder.get(), rlegolomb_encode, in, 1, out, max_output);
    if (status != RLEGOLOMB_DONE) {
      raise_status(status);
    }
    return out.finish();
  }
  // The measuring pass that chooses k also gives the exact size of its stream.
  std::unique_ptr<rlegolomb_sizer, decltype(&rlegolomb_sizer_free)> sizer(rlegolomb_sizer_create(),
                                                                          rlegolomb_sizer_free);
  if (!sizer) {
    throw std::bad_alloc();
  }
  uint64_t bytes = 0;
  {
    py::gil_scoped_release release;
    rlegolomb_sizer_update(sizer.get(), src.data(), src.size());
    k = rlegolomb_sizer_choose_k(sizer.get());
    bytes = rlegolomb_sizer_stream_bytes(sizer.get(), k);
  }
  size_t capacity = bytes > std::numeric_limits<size_t>::max() ? std::numeric_limits<size_t>::max()
                                                               : static_cast<size_t>(bytes);
  BytesBuilder out(capacity);
  size_t size = 0;
  rlegolomb_status status;
  {
    py::gil_scoped_release release;
    status = rlegolomb_compress(src.data(), src.size(), k, out.data(), capacity, &size);
  }
  if (status != RLEGOLOMB_DONE) {
    raise_status(status);
  }
  out.set_length(size);
  return out.finish();
}

using DecoderPtr = std::unique_ptr<rlegolomb_decoder, decltype(&rlegolomb_decoder_free)>;

DecoderPtr new_decoder() {
  DecoderPtr decoder(rlegolomb_decoder_create(), rlegolomb_decoder_free);
  if (!decoder) {
    throw std::bad_alloc();
  }
  return decoder;
}

// The room that lets a decoder write at most `limit` more bytes and then one more, which tells
// an expansion that passes the limit from one that ends at it.
size_t room_for_limit(uint64_t limit) {
  return limit < static_cast<uint64_t>(std::numeric_limits<size_t>::max())
             ? static_cast<size_t>(limit) + 1
             : std::numeric_limits<size_t>::max();
}

// One decoding pass straight into the result, whose room grows by doubling (realloc, which moves
// pages rather than bytes at these sizes) and is cut to the length at the end. Sizing the result
// first with rlegolomb_expanded_bits would cost a second pass over the stream (1.2x to 3.6x the
// time in bench/RESULTS.md); with max_length, the room stops at the limit and a byte, so time and
// memory stay within the limit whatever the stream would expand to.
py::bytes decompress(py::handle data, py::handle max_length_arg) {
  std::optional<uint64_t> max_length = count_argument(max_length_arg, "max_length", true);
  BufferView src(data);
  DecoderPtr decoder = new_decoder();
  size_t max_output =
      max_length ? room_for_limit(*max_length) : std::numeric_limits<size_t>::max();
  BytesBuilder out(initial_room(src.size(), max_output));
  rlegolomb_in in = src.input();
  rlegolomb_status status = drain(decoder.get(), rlegolomb_decode, in, 1, out, max_output);
  if (max_length && out.length() > *max_length) {
    raise(output_limit_error, "the expansion passes max_length=" + std::to_string(*max_length));
  }
  if (status != RLEGOLOMB_DONE) {
    raise_status(status);
  }
  return out.finish();
}

py::int_ expanded_bits(py::handle data) {
  BufferView src(data);
  uint64_t bits = 0;
  {
    py::gil_scoped_release release;
    bits = rlegolomb_expanded_bits(src.data(), src.size());
  }
  return py::int_(bits);
}

int choose_k(py::handle data) {
  BufferView src(data);
  int k = 0;
  {
    py::gil_scoped_release release;
    k = rlegolomb_choose_k(src.data(), src.size());
  }
  if (k < 0) {
    raise_status(RLEGOLOMB_ERROR_ARGUMENT);
  }
  return k;
}

// The first ceil(bits / 8) bytes of the expansion, decoding no further than that (plus a byte):
// a long stream costs only its prefix. ValueError when the expansion is shorter than `bits` bits.
py::bytes expand_prefix(py::handle data, py::handle bits_arg) {
  uint64_t bits = *count_argument(bits_arg, "bits", false);
  BufferView src(data);
  if (bits == 0) {
    return py::bytes();
  }
  uint64_t wanted = byte_count(bits);
  if (wanted >= static_cast<uint64_t>(std::numeric_limits<Py_ssize_t>::max())) {
    raise(PyExc_ValueError,
          "the stream holds fewer than the " + std::to_string(bits) + " bits asked for");
  }
  DecoderPtr decoder = new_decoder();
  // One byte of room past the prefix tells a longer expansion from one that ends inside it; the
  // room grows with the expansion, so a shape far larger than it takes no memory of its size.
  size_t max_output = room_for_limit(wanted);
  BytesBuilder out(initial_room(src.size(), max_output));
  rlegolomb_in in = src.input();
  rlegolomb_status status = drain(decoder.get(), rlegolomb_decode, in, 1, out, max_output);
  if (status == RLEGOLOMB_DONE) {
    uint64_t have = rlegolomb_decoder_bits(decoder.get());
    if (have < bits) {
      raise(PyExc_ValueError, "the stream holds " + std::to_string(have) + " bits, fewer than the " +
                                  std::to_string(bits) + " asked for");
    }
  } else if (status != RLEGOLOMB_MORE) {
    raise_status(status);
  }
  out.set_length(static_cast<size_t>(wanted));
  return out.finish();
}

// ---- Streaming objects --------------------------------------------------------------------------

class Compressor {
 public:
  explicit Compressor(py::handle k_arg)
      : k_(k_argument(k_arg, false)), encoder_(new_encoder(k_)) {}

  py::bytes compress(py::handle data) {
    BufferView src(data);
    ObjectLock lock(mutex_);
    if (flushed_) {
      raise(PyExc_ValueError, "Compressor has been flushed");
    }
    rlegolomb_in in = src.input();
    return run(in, 0);
  }

  py::bytes flush() {
    ObjectLock lock(mutex_);
    if (flushed_) {
      raise(PyExc_ValueError, "Repeated call to flush()");
    }
    rlegolomb_in in{&empty_input, 0, 0};
    py::bytes result = run(in, 1);
    flushed_ = true;
    return result;
  }

  int k() const { return k_; }

 private:
  py::bytes run(rlegolomb_in& in, int final) {
    size_t max_output = std::numeric_limits<size_t>::max();
    BytesBuilder out(initial_room(in.size, max_output));
    rlegolomb_status status = drain(encoder_.get(), rlegolomb_encode, in, final, out, max_output);
    if (status != (final ? RLEGOLOMB_DONE : RLEGOLOMB_MORE)) {
      raise_status(status);
    }
    return out.finish();
  }

  int k_;
  EncoderPtr encoder_;
  std::mutex mutex_;
  bool flushed_ = false;
};

class Decompressor {
 public:
  explicit Decompressor(py::handle max_length_arg)
      : max_length_(count_argument(max_length_arg, "max_length", true)),
        decoder_(new_decoder()) {}

  py::bytes decompress(py::handle data) {
    BufferView src(data);
    ObjectLock lock(mutex_);
    if (eof_) {
      raise(PyExc_EOFError, "End of stream already reached");
    }
    rlegolomb_in in = src.input();
    return run(in, 0);
  }

  py::bytes flush() {
    ObjectLock lock(mutex_);
    if (eof_) {
      return py::bytes();
    }
    rlegolomb_in in{&empty_input, 0, 0};
    py::bytes result = run(in, 1);
    eof_ = true;
    return result;
  }

  bool eof() {
    ObjectLock lock(mutex_);
    return eof_;
  }

  py::int_ bits() {
    ObjectLock lock(mutex_);
    return py::int_(rlegolomb_decoder_bits(decoder_.get()));
  }

  py::object max_length() const {
    return max_length_ ? py::object(py::int_(*max_length_)) : py::object(py::none());
  }

 private:
  // The limit is kept here rather than in the decoder (whose 0 means "no limit"): the room given
  // stops one byte past max_length, and reaching that byte is the error.
  py::bytes run(rlegolomb_in& in, int final) {
    if (exceeded_) {
      raise_limit();
    }
    // written_ <= *max_length_ here
    size_t max_output = max_length_ ? room_for_limit(*max_length_ - written_)
                                    : std::numeric_limits<size_t>::max();
    BytesBuilder out(initial_room(in.size, max_output));
    rlegolomb_status status = drain(decoder_.get(), rlegolomb_decode, in, final, out, max_output);
    if (status < 0) {
      raise_status(status);
    }
    if (max_length_ && out.length() > *max_length_ - written_) {
      exceeded_ = true;
      raise_limit();
    }
    if (final && status != RLEGOLOMB_DONE) {
      raise_status(status);  // unreachable: with the whole room given, a final call ends DONE
    }
    written_ += out.length();
    return out.finish();
  }

  [[noreturn]] void raise_limit() const {
    raise(output_limit_error,
          "the expansion passes max_length=" + std::to_string(*max_length_));
  }

  std::optional<uint64_t> max_length_;
  DecoderPtr decoder_;
  std::mutex mutex_;
  uint64_t written_ = 0;
  bool exceeded_ = false;
  bool eof_ = false;
};

}  // namespace

PYBIND11_MODULE(_rlegolomb, m) {
  // The docstrings carry their own signature lines, in CPython's form (name(args)\n--\n\n), which
  // inspect.signature() reads.
  py::options options;
  options.disable_function_signatures();

  m.doc() = "The compiled part of rlegolomb; use the rlegolomb package.";
  m.attr("__version__") = rlegolomb_version();

  output_limit_error = PyErr_NewExceptionWithDoc(
      "rlegolomb.OutputLimitError",
      "The expansion would pass the max_length given to decompress() or Decompressor().\n\n"
      "A subclass of ValueError.",
      PyExc_ValueError, nullptr);
  if (output_limit_error == nullptr) {
    throw py::error_already_set();
  }
  m.attr("OutputLimitError") = py::reinterpret_borrow<py::object>(output_limit_error);

  m.def("compress", &compress, py::arg("data"), py::pos_only(), py::arg("k") = py::none(),
        "compress(data, /, k=None)\n--\n\n"
        "Compress data, a bytes-like object, into an RLE_Golomb stream.\n\n"
        "k is the code's exponent (m = 2**k), an integer from 0 to 255; None chooses the k of\n"
        "the smallest stream (the smaller k on a tie), as rle-golomb-compress does without k.\n"
        "The result is the stream that rle-golomb-compress writes for the same bytes and k.\n"
        "Raises TypeError for a data object that is not bytes-like or a k that is not an\n"
        "integer, ValueError for a k outside 0..255.");

  m.def("decompress", &decompress, py::arg("data"), py::pos_only(),
        py::arg("max_length") = py::none(),
        "decompress(data, /, max_length=None)\n--\n\n"
        "Expand an RLE_Golomb stream, data, a bytes-like object, and return the bytes.\n\n"
        "The result is what rle-golomb-expand writes for the same stream: the expansion with\n"
        "its last byte completed by zero bits. Every byte string is a valid stream.\n"
        "With max_length (an integer >= 0), OutputLimitError is raised when the expansion\n"
        "would have more than max_length bytes: decoding stops as soon as it passes them,\n"
        "so time and memory stay within max_length, whatever the stream would expand to.");

  m.def("expanded_bits", &expanded_bits, py::arg("data"), py::pos_only(),
        "expanded_bits(data, /)\n--\n\n"
        "The exact length in bits of the expansion of the stream data, before the zero fill\n"
        "of its last byte. decompress(data) has (expanded_bits(data) + 7) // 8 bytes.");

  m.def("choose_k", &choose_k, py::arg("data"), py::pos_only(),
        "choose_k(data, /)\n--\n\n"
        "The k (0..63) whose stream of data is the smallest in bytes, the smaller k on a tie:\n"
        "the k that compress(data) and rle-golomb-compress use when no k is given.");

  m.def("expand_prefix", &expand_prefix, py::arg("data"), py::arg("bits"),
        "expand_prefix(data, bits)\n--\n\n"
        "The first (bits + 7) // 8 bytes of the expansion of data, decoding no further than\n"
        "needed. ValueError when the expansion has fewer than bits bits. Used by\n"
        "decompress_array().");

  py::class_<Compressor>(m, "Compressor",
                         "Compressor(k)\n--\n\n"
                         "A compressor that takes its input in pieces, as zlib.compressobj does.\n\n"
                         "k is required (0..255): a stream's k comes first, before any input is\n"
                         "seen. Call compress() with each piece, then flush() once; the joined\n"
                         "results are compress(whole input, k), however the input was cut.\n"
                         "An object may be shared between threads; its calls then take turns.")
      .def(py::init<py::handle>(), py::arg("k"),
           "__init__(self, k)\n--\n\n"
           "A compressor writing a stream with this k (an integer from 0 to 255).")
      .def("compress", &Compressor::compress, py::arg("data"), py::pos_only(),
           "compress(self, data, /)\n--\n\n"
           "Take the next piece of input (a bytes-like object, possibly empty) and return the\n"
           "part of the stream that is complete so far (possibly b''). ValueError after flush().")
      .def("flush", &Compressor::flush,
           "flush(self, /)\n--\n\n"
           "End the input and return the rest of the stream. The compressor cannot be used\n"
           "afterwards: compress() and flush() then raise ValueError, as in bz2 and lzma.")
      .def_property_readonly("k", &Compressor::k, "The stream's k, as given.");

  py::class_<Decompressor>(
      m, "Decompressor",
      "Decompressor(max_length=None)\n--\n\n"
      "A decompressor that takes a stream in pieces, as bz2.BZ2Decompressor does.\n\n"
      "Call decompress() with each piece, then flush() once the stream has ended: a stream\n"
      "has no end marker, so only flush() completes the last byte. The joined results are\n"
      "decompress(whole stream), however the stream was cut.\n"
      "max_length (an integer >= 0, or None for no limit) caps the whole expansion: the call\n"
      "that would pass it raises OutputLimitError, and so does every later call.\n"
      "An object may be shared between threads; its calls then take turns.")
      .def(py::init<py::handle>(), py::arg("max_length") = py::none(),
           "__init__(self, max_length=None)\n--\n\n"
           "A decompressor at the start of a stream, its expansion capped at max_length bytes.")
      .def("decompress", &Decompressor::decompress, py::arg("data"), py::pos_only(),
           "decompress(self, data, /)\n--\n\n"
           "Take the next piece of the stream (a bytes-like object, possibly empty) and return\n"
           "the whole bytes of the expansion decoded so far (possibly b''). After flush(),\n"
           "EOFError ('End of stream already reached'), as in bz2 and lzma.")
      .def("flush", &Decompressor::flush,
           "flush(self, /)\n--\n\n"
           "End the stream: return the rest of the expansion (the code cut off by the end is\n"
           "dropped and the last byte is completed with zero bits) and set eof and bits.\n"
           "Further calls return b''.")
      .def_property_readonly("eof", &Decompressor::eof,
                             "True once flush() has been called: the stream is finished.")
      .def_property_readonly(
          "bits", &Decompressor::bits,
          "The length in bits of the expansion decoded so far, before the zero fill; once eof\n"
          "is True, the exact length of the whole expansion (as expanded_bits() gives it).")
      .def_property_readonly("max_length", &Decompressor::max_length,
                             "The cap on the expansion in bytes, as given (None: no limit).");
}
