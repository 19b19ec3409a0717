#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

#include "convert/conversion_run.h"
#include "scan/scan_observer.h"

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

// Drives the walker and the conversion run from a terminal. The folder
// chooser answers with the destination given on the command line, yields do
// nothing, and the final message box stays silent: the caller prints its own
// summary from the run's report. Progress goes to one updating line of the
// given stream, and only when showProgress is set.
class TerminalHost : public ConversionHost, public ScanObserver {
 public:
  TerminalHost(std::string destination, std::ostream& progress, bool showProgress);

  // The queue and count of the walk that preceded the run.
  void SetQueue(QueueListRef queue, std::int32_t count);
  // Ends the progress line, if one was drawn, so later output starts afresh.
  void FinishProgress();

  // ScanObserver
  void SetCountLabel(const std::string& text) override;

  // ConversionHost
  WindowHandle OwnerWindow() override { return 0; }
  std::string BrowseForFolder(WindowHandle owner, const std::string& title) override;
  QueueListRef Queue() override { return queue_; }
  std::int32_t QueueCount() override { return count_; }
  void SetBarMinimum(float value) override { barMinimum_ = value; }
  void SetBarMaximum(float value) override { barMaximum_ = value; }
  void SetBarValue(float value) override { barValue_ = value; }
  void SetUpdateCaption(const std::string&) override {}
  void SetProgressCaption(const std::string& text) override;
  // Throws StopRequested once RequestStop has been called.
  void Yield() override;
  void ShowMessage(MessageIcon, const std::string&, const std::string&,
                   const std::string&) override {}

 private:
  using Clock = std::chrono::steady_clock;

  // Redraws at most about ten times a second, and whenever the whole percent
  // changes or the run reaches its end, so that printing never costs more
  // than converting.
  bool DueForRedraw(int percent, bool final);
  void Draw(const std::string& line);

  std::string destination_;
  std::ostream& progress_;
  bool showProgress_;
  QueueListRef queue_;
  std::int32_t count_ = 0;
  float barMinimum_ = 0.0f;
  float barMaximum_ = 100.0f;
  float barValue_ = 0.0f;
  int lastPercent_ = -1;
  Clock::time_point lastDraw_{};
  std::size_t lastLineLength_ = 0;
  bool lineOpen_ = false;
};

}  // namespace quillfen::cli
