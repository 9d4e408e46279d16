// Messages, exit status and the progress line of rlegolomb. Standard output never sees any of it.
#include "tool/reporter.h"

#include <cstdarg>
#include <cstdio>

namespace {

double SecondsBetween(const timespec& from, const timespec& to) {
  return static_cast<double>(to.tv_sec - from.tv_sec) +
         static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
}

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

// A byte count for people: "812 B", "3.4 KiB", "127.0 MiB", "2.50 GiB".
std::string HumanBytes(double bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, bytes < 10 ? "%.2f %s" : "%.1f %s", bytes, kUnits[unit]);
  }
  return text;
}

constexpr double kProgressDelaySeconds = 1.0;
constexpr double kProgressIntervalSeconds = 0.25;

}  // namespace

Reporter::Reporter(Verbosity verbosity, bool progressAllowed)
    : verbosity_(verbosity), progressAllowed_(progressAllowed && verbosity != Verbosity::kQuiet) {}

void Reporter::Say(const char* name, const char* format, va_list arguments) {
  WipeProgressLine();
  if (name != nullptr) {
    std::fprintf(stderr, "%s: %s: ", kProgramName, name);
  } else {
    std::fprintf(stderr, "%s: ", kProgramName);
  }
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
}

void Reporter::Error(const char* name, const char* format, ...) {
  sawError_ = true;
  va_list arguments;
  va_start(arguments, format);
  Say(name, format, arguments);
  va_end(arguments);
}

void Reporter::Warning(const char* name, const char* format, ...) {
  sawWarning_ = true;
  if (verbosity_ == Verbosity::kQuiet) {
    return;
  }
  va_list arguments;
  va_start(arguments, format);
  Say(name, format, arguments);
  va_end(arguments);
}

void Reporter::Note(const char* name, const char* format, ...) {
  if (verbosity_ == Verbosity::kQuiet) {
    return;
  }
  va_list arguments;
  va_start(arguments, format);
  Say(name, format, arguments);
  va_end(arguments);
}

void Reporter::Detail(const char* name, const char* format, ...) {
  if (verbosity_ != Verbosity::kVerbose) {
    return;
  }
  va_list arguments;
  va_start(arguments, format);
  Say(name, format, arguments);
  va_end(arguments);
}

int Reporter::ExitStatus() const {
  return sawError_ ? 1 : sawWarning_ ? 2 : 0;
}

void Reporter::BeginProgress(const std::string& name, bool rateOfOutput) {
  progressRunning_ = progressAllowed_;
  progressName_ = name;
  rateOfOutput_ = rateOfOutput;
  progressStart_ = Now();
  lastDrawn_ = progressStart_;
}

void Reporter::UpdateProgress(std::uint64_t bytesIn, std::uint64_t bytesOut) {
  if (!progressRunning_) {
    return;
  }
  const timespec now = Now();
  const double elapsed = SecondsBetween(progressStart_, now);
  if (elapsed < kProgressDelaySeconds ||
      (shownWidth_ > 0 && SecondsBetween(lastDrawn_, now) < kProgressIntervalSeconds)) {
    return;
  }
  lastDrawn_ = now;
  const double rated = static_cast<double>(rateOfOutput_ ? bytesOut : bytesIn);
  char line[512];
  const int width = std::snprintf(
      line, sizeof line, "%s: %s: %s in, %s out, %s/s", kProgramName, progressName_.c_str(),
      HumanBytes(static_cast<double>(bytesIn)).c_str(),
      HumanBytes(static_cast<double>(bytesOut)).c_str(), HumanBytes(rated / elapsed).c_str());
  if (width <= 0) {
    return;
  }
  const std::size_t drawn = std::min(static_cast<std::size_t>(width), sizeof line - 1);
  // Blanks cover what is left of a longer earlier line.
  const int padding = shownWidth_ > drawn ? static_cast<int>(shownWidth_ - drawn) : 0;
  std::fprintf(stderr, "\r%s%*s", line, padding, "");
  shownWidth_ = drawn;
}

void Reporter::EndProgress() {
  WipeProgressLine();
  progressRunning_ = false;
}

void Reporter::WipeProgressLine() {
  if (shownWidth_ > 0) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shownWidth_), "");
    shownWidth_ = 0;
  }
}
