#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "convert/conversion_run.h"
#include "scan/scan_observer.h"

namespace quillfen::test {

// Drives the walker and a conversion run in this process the way the
// command line does, but silently: the chooser answers with the destination,
// and nothing is shown.
class QuietHost : public ConversionHost, public ScanObserver {
 public:
  explicit QuietHost(std::string destination) : destination_(std::move(destination)) {}
  QuietHost(std::string destination, QueueListRef queue, std::int32_t count)
      : destination_(std::move(destination)), queue_(std::move(queue)), count_(count) {}

  // Called on every yield of the walk and of the run.
  std::function<void()> onYield;

  void SetQueue(QueueListRef queue, std::int32_t count) {
    queue_ = std::move(queue);
    count_ = count;
  }

  // The scanned folder, as the window knows it.
  std::string sourceFolder;
  // The texts of the messages shown, in order.
  std::vector<std::string> shown;

  void SetCountLabel(const std::string&) override {}
  void Yield() override {
    if (onYield) onYield();
  }
  WindowHandle OwnerWindow() override { return 0; }
  std::string BrowseForFolder(WindowHandle, const std::string&) override { return destination_; }
  QueueListRef Queue() override { return queue_; }
  std::int32_t QueueCount() override { return count_; }
  void SetBarMinimum(float) override {}
  void SetBarMaximum(float) override {}
  void SetBarValue(float) override {}
  void SetUpdateCaption(const std::string&) override {}
  void SetProgressCaption(const std::string&) override {}
  void ShowMessage(MessageIcon, const std::string& text, const std::string&,
                   const std::string&) override {
    shown.push_back(text);
  }
  std::string SourceFolder() override { return sourceFolder; }
  // Yes to resuming and to converting again, as the command line would.
  bool AskYesNo(const std::string&, const std::string&) override { return true; }

 private:
  std::string destination_;
  QueueListRef queue_;
  std::int32_t count_ = 0;
};

}  // namespace quillfen::test
