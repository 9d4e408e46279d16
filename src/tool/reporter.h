// What rlegolomb tells its user: messages on standard error as "rlegolomb: NAME: message", the
// worst status met so far, and the progress line.
#pragma once

#include <time.h>

#include <cstdarg>
#include <cstdint>
#include <string>

inline constexpr const char* kProgramName = "rlegolomb";

// How much the program says: -q gives kQuiet, -v kVerbose.
enum class Verbosity { kQuiet, kNormal, kVerbose };

class Reporter {
 public:
  // `progressAllowed`: standard error is a terminal, so a progress line may be drawn on it.
  Reporter(Verbosity verbosity, bool progressAllowed);

  // "rlegolomb: NAME: text" (or "rlegolomb: text" for a null name) at every verbosity; the exit
  // status becomes 1.
  void Error(const char* name, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // The same, suppressed by -q; the exit status becomes 2 unless an error was met.
  void Warning(const char* name, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // A report of what was done: shown unless -q (Note) or only with -v (Detail).
  void Note(const char* name, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void Detail(const char* name, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // 0 when all went well, 1 after any error, else 2 after any warning (gzip's convention).
  int ExitStatus() const;
  bool Verbose() const { return verbosity_ == Verbosity::kVerbose; }

  // The progress line of one file's work. Update is cheap enough to call for every buffer: the
  // line appears only when the work has taken a second, is redrawn at most four times a second,
  // and is wiped before any message and at EndProgress. `rateOfOutput`: the rate shown is that of
  // the output (expanding) rather than of the input (compressing).
  void BeginProgress(const std::string& name, bool rateOfOutput);
  void UpdateProgress(std::uint64_t bytesIn, std::uint64_t bytesOut);
  void EndProgress();

 private:
  void Say(const char* name, const char* format, va_list arguments)
      __attribute__((format(printf, 3, 0)));
  void WipeProgressLine();

  Verbosity verbosity_;
  bool progressAllowed_;
  bool sawError_ = false;
  bool sawWarning_ = false;
  // The progress of the file being worked on: whether one is running, its name, when it began,
  // when its line was last drawn, and how many characters that line took (0: none is shown).
  bool progressRunning_ = false;
  std::string progressName_;
  bool rateOfOutput_ = false;
  timespec progressStart_{};
  timespec lastDrawn_{};
  std::size_t shownWidth_ = 0;
};
