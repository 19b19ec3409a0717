#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "source/export_archive.h"
#include "source/folder_walker.h"
#include "ui/latest_value.h"

namespace quillfen {

// Takes in one source on a thread of its own: walks a folder into a queue,
// or counts an export archive's entries. The window's thread only paints
// and answers the user meanwhile; the running counts reach it as queued
// signals, at most about sixty times a second and always ending with the
// last, and the outcome once the scan has ended.
class WindowScan : public QObject {
  Q_OBJECT

 public:
  // What a scan found; the failure is worded for the user, empty when the
  // scan read the whole source.
  struct Outcome {
    // The folder's queue; null for an archive.
    PathQueueRef queue;
    std::vector<FileSystemError> unreadableFolders;
    // The archive, counted; null for a folder or an unreadable archive.
    std::unique_ptr<ExportArchive> archive;
    std::int32_t files = 0;
    std::int32_t messages = 0;
    // The .meta files among the files (the export's details of each
    // message).
    std::int32_t meta = 0;
    QString failure;
    // The scan was stopped before its end; the rest says nothing then.
    bool stopped = false;
  };

  // A scan of folder (ending with the separator), listed through a
  // file-system service of fileSystems, going on past folders it cannot
  // read; or of the archive at path.
  static std::unique_ptr<WindowScan> OfFolder(std::string folder,
                                              FolderWalker::FileSystemFactory fileSystems);
  static std::unique_ptr<WindowScan> OfArchive(std::string path);
  // Stops the scan and waits for it.
  ~WindowScan() override;

  void Start();
  // Asks the scan to stop at its next yield; finished follows.
  void RequestStop() { stop_.request_stop(); }
  // Once finished: what the scan found, handed over once.
  Outcome TakeOutcome() { return std::move(outcome_); }

 signals:
  // The files taken in so far, and the messages (.eml) among them.
  void counted(std::int32_t files, std::int32_t messages);
  void finished();

 private:
  class Observer;
  WindowScan(std::string path, bool archive, FolderWalker::FileSystemFactory fileSystems);
  void Run();
  void Post(std::int32_t files, std::int32_t messages);
  void Deliver();

  std::string path_;
  bool archive_;
  FolderWalker::FileSystemFactory fileSystems_;
  std::stop_source stop_;
  std::thread thread_;
  Outcome outcome_;

  // Files and messages counted.
  using Counts = std::pair<std::int32_t, std::int32_t>;
  LatestValue<Counts> latest_;
};

}  // namespace quillfen
