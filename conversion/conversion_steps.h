#pragma once

// The steps of one conversion, shared by the files that carry them out:
// conversion.cpp opens the source, takes the destination, runs and reports;
// conversion_plan.cpp works out what the destination already holds.
// Nothing outside conversion/ includes this header.

#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "conversion/message_converter.h"
#include "destination/destination.h"
#include "source/background_walk.h"
#include "source/export_archive.h"
#include "source/folder_walker.h"
#include "source/message_prefetch.h"
#include "source/message_source.h"

namespace quillfen::conversion_steps {

// The stop token stopped the conversion where it was.
struct Stopped {};

// Messages are hashed a piece of this size at a time.
inline constexpr std::size_t kPieceSize = std::size_t{1} << 20;

// The scan's running count, and its stops.
class ScanCounter : public ScanObserver {
 public:
  ScanCounter(ConversionSink& sink, const std::stop_token& stop) : sink_(sink), stop_(stop) {}
  void Queued(std::int32_t files, std::int32_t messages) override {
    sink_.Scanning(files, messages);
  }
  void Yield() override {
    if (stop_.stop_requested()) throw Stopped{};
  }

 private:
  ConversionSink& sink_;
  const std::stop_token& stop_;
};

// An archive's progress, while it is compared and while it is converted.
class ArchiveBridge : public ArchiveProgress {
 public:
  ArchiveBridge(ConversionSink& sink, const std::stop_token& stop) : sink_(sink), stop_(stop) {}

  bool comparing = false;
  std::int32_t messagesTotal = 0;
  std::int32_t freshTotal = 0;

  void SetProgress(std::int32_t done, std::int32_t total) override {
    ConversionProgress progress;
    if (total > 0) {
      progress.files = done;
      progress.filesTotal = total;
      progress.fraction = static_cast<double>(done) / static_cast<double>(total);
    } else {
      progress.fraction = fraction_;
    }
    progress.messages = messages_;
    progress.messagesTotal = messagesTotal;
    progress.fresh = fresh_;
    progress.freshTotal = freshTotal;
    progress.folder = folder_.empty() ? nullptr : &folder_;
    progress.mailbox = mailbox_ == nullptr || mailbox_->empty() ? nullptr : mailbox_;
    if (comparing)
      sink_.Comparing(messages_, messagesTotal);
    else
      sink_.Converting(progress);
  }
  void SetFractionRead(double fraction) override { fraction_ = fraction; }
  void SetCurrentFolder(const std::string& folder) override { folder_ = folder; }
  // Where the converter keeps the mailbox it wrote to last.
  void SetMailbox(const std::string* mailbox) { mailbox_ = mailbox; }
  void Yield() override {
    if (stop_.stop_requested()) throw Stopped{};
  }
  // A message dealt with; fresh when this run writes it.
  void MessageDone(bool fresh) {
    ++messages_;
    if (fresh) ++fresh_;
  }
  void Restart() {
    messages_ = 0;
    fresh_ = 0;
    fraction_ = 0.0;
    folder_.clear();
  }

 private:
  ConversionSink& sink_;
  const std::stop_token& stop_;
  double fraction_ = 0.0;
  std::int32_t messages_ = 0;
  std::int32_t fresh_ = 0;
  std::string folder_;
  const std::string* mailbox_ = nullptr;
};

// One conversion, from its source to its report.
class Conversion {
 public:
  Conversion(const ConversionRequest& request, ConversionSink& sink, std::stop_token stop)
      : request_(request), sink_(sink), stop_(std::move(stop)), archiveBridge_(sink, stop_) {}

  ConversionReport Run(const DecideFunction& decide);

 private:
  bool Refuse(Refusal refusal, std::string reason) {
    report_.ending = Ending::Refused;
    report_.refusal = refusal;
    report_.reason = std::move(reason);
    return false;
  }
  bool OpenSource();
  bool TakeDestination();
  // Whether the destination may hold some of the source: anything at the
  // place of the source's mirror folder.
  bool SourceMirrored();
  // Waits for the walk of the source; refuses when a folder could not be
  // listed.
  bool AwaitWalk();
  // The walk's totals, once it walked the whole tree.
  void LearnTotals();
  void PlanFolder();
  void PlanArchive();
  void ConvertFolder(bool secondCopy);
  void ConvertArchive(bool secondCopy);
  void Settle(const MessageOutcome& outcome, const std::string& file);
  void CompleteReport();
  // The report's mailboxes folder.
  std::string MailboxesFolder() const;
  bool Held(std::int32_t index) const {
    return index >= 0 && static_cast<std::size_t>(index) < held_.size() && held_[index];
  }

  const ConversionRequest& request_;
  ConversionSink& sink_;
  std::stop_token stop_;
  ConversionReport report_;
  ConversionPlan& plan_ = report_.plan;

  PathQueueRef queue_;
  std::unique_ptr<ExportArchive> ownArchive_;
  ExportArchive* archive_ = nullptr;
  ArchiveBridge archiveBridge_;
  std::unique_ptr<Destination> destination_;
  std::unique_ptr<MessageConverter> converter_;
  std::vector<bool> held_;
  std::unique_ptr<char[]> piece_;
  // A folder's files are read ahead on the second core; without that
  // thread (it could not start), one at a time here.
  std::unique_ptr<MessagePrefetch> prefetch_;
  // The walk of a folder source that no front end scanned. Declared after
  // the prefetch, so that it stops first: the reading may be waiting for the
  // walk's next path.
  std::unique_ptr<BackgroundWalk> walk_;
  std::optional<MessageFile> file_;
  MessageFolder folder_;
};

}  // namespace quillfen::conversion_steps
