#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

#include "source/scan_observer.h"

namespace quillfen::cli {

// Asks the walk or run in progress to stop at its next yield. Safe to call
// from a signal handler. A yield comes only between writes, so a run stopped
// this way never leaves half a record behind.
void RequestStop() noexcept;

// Thrown from TerminalHost::Yield once a stop has been requested.
class StopRequested : public std::runtime_error {
 public:
  StopRequested() : std::runtime_error("interrupted") {}
};

// Whether RequestStop has been called.
bool StopIsRequested() noexcept;

// Shows the walk and the conversion on a terminal: one updating line of the
// given stream, and only when showProgress is set.
class TerminalHost : public ScanObserver {
 public:
  TerminalHost(std::ostream& progress, bool showProgress);

  // Ends the progress line, if one was drawn, so later output starts afresh.
  void FinishProgress();

  // ScanObserver: "Scanning: N messages found".
  void Queued(std::int32_t files, std::int32_t messages) override;
  // Throws StopRequested once RequestStop has been called.
  void Yield() override;

  // done of total messages converted.
  void ShowConversion(std::int32_t done, std::int32_t total, const std::string& prefix = {});
  // done messages converted of a number not known yet; fraction (0 to 1)
  // tells how far the conversion is.
  void ShowConversionFraction(std::int32_t done, double fraction);

 private:
  using Clock = std::chrono::steady_clock;

  // Redraws at most about ten times a second, and whenever the whole percent
  // changes or the run reaches its end, so that printing never costs more
  // than converting.
  bool DueForRedraw(int percent, bool final);
  void DrawBar(float fraction, const std::string& text);
  void Draw(const std::string& line);

  std::ostream& progress_;
  bool showProgress_;
  int lastPercent_ = -1;
  Clock::time_point lastDraw_{};
  std::size_t lastLineLength_ = 0;
  bool lineOpen_ = false;
};

}  // namespace quillfen::cli
