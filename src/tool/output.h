// Where a job's output goes, and the rule that no partial output is ever left under the target's
// name. Two kinds:
//   - standard output, written as the work goes (a failed run may have written part of it); the
//     only way into a FIFO or a device;
//   - a regular file, built in a temporary file ".NAME.XXXXXX" in the target's folder and renamed
//     over the target only once its last byte has been written and the file closed without error.
//     Any failure, and the signals of cleanup.h, remove the temporary file.
#pragma once

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "tool/input.h"
#include "tool/reporter.h"

struct FileOutputOptions {
  bool force = false;   // an existing regular file (or a link) under the target's name is replaced
  bool sparse = false;  // whole zero blocks become holes, and the size is set at the end
  bool sync = false;    // the file and its folder reach the disk before Finish returns (--rm)
  mode_t mode = 0600;   // the permissions of the new file
  bool keepTimes = false;
  timespec times[2]{};  // access and modification times for the new file, when keepTimes
};

class Output {
 public:
  explicit Output(Reporter& reporter) : reporter_(reporter) {}
  // An output that was opened but not finished is abandoned.
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Standard output. `sparse`: holes are made only when it is a regular file opened without
  // O_APPEND with nothing past its current offset, so that a skipped block can only read as zeros.
  // `input` is the status of the job's input: a regular file that is also the output is refused.
  bool OpenStdout(bool sparse, const struct stat& input);
  // The file `target`: refused (reported, false) when it is the input, a folder, anything else
  // but a regular file (a FIFO, a device, with or without force), or exists and force is not
  // set; otherwise a temporary file is created beside it.
  bool OpenFile(const std::string& target, const struct stat& input,
                const FileOutputOptions& options);

  // Writes all `size` bytes; false after reporting the error.
  bool Write(const std::uint8_t* data, std::size_t size);
  // Write without the report, for a writer thread: false with the error kept for
  // ReportWriteError, which the job's own thread calls.
  bool WriteQuietly(const std::uint8_t* data, std::size_t size);
  void ReportWriteError();
  // Ends the output: sets the size after a final hole, closes, renames into place. False after
  // reporting an error, with the temporary file removed.
  bool Finish();
  // Standard output whose expansion stopped early (at the limit): its size is set past a final
  // hole, so that it holds exactly the bytes given. Nothing for other outputs (they are
  // abandoned). False after reporting an error.
  bool EndStoppedStdout();
  // Removes the temporary file (if any) and forgets the output.
  void Abandon();

  const std::string& Name() const { return name_; }
  // True once Finish has put a regular file in place under the target's name.
  bool Placed() const { return placed_; }

 private:
  enum class Kind { kNone, kStdout, kTemporary };

  bool WriteAll(const std::uint8_t* data, std::size_t size);
  bool SkipPendingHole();
  // Finish's steps before the close; false after reporting.
  bool SettlePendingHole();
  bool Place();

  Reporter& reporter_;
  Kind kind_ = Kind::kNone;
  std::string name_;           // the target as messages name it
  std::string temporaryPath_;  // kTemporary: the file being written
  UniqueFd owned_;             // kTemporary: the descriptor being written
  int fd_ = -1;
  FileOutputOptions options_;
  bool replace_ = false;  // the target existed and may be replaced
  bool placed_ = false;
  // Sparse writing: `position_` is the offset in the file that the bytes given so far reach
  // (holes included); `holeBytes_` the zero bytes at its end that are skipped but not yet sought
  // past. Holes are whole kHoleBlock blocks aligned on the file's offsets.
  bool sparse_ = false;
  std::uint64_t position_ = 0;
  std::uint64_t holeBytes_ = 0;
  int writeError_ = 0;  // the errno of the last refused write
};
