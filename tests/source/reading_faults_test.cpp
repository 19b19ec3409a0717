// Faults of the reading side as a whole conversion meets them: no second
// thread for reading ahead, walking or decompressing, a stop during the
// scan, and a folder that cannot be listed while the conversion runs.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stop_token>
#include <string>

#include "os/fault_injection.h"
#include "os/paths.h"
#include "tests/source/archive_test_support.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(ReadingFaults, WithoutASecondThreadFolderAndArchiveConvertAllTheSame) {
  TempDir dir;
  const fs::path source = dir.path() / "export";
  test::GenerateMessageTree(source, 40, 4, 7);
  test::PackFolder(source, dir.path() / "export.tgz");
  const std::string normal = dir.str() + "normal";
  ASSERT_EQ(test::ConvertSource(source.string(), normal).ending, Ending::Finished);

  // The read-ahead thread and the decompressing thread cannot start: each
  // falls back to reading on the conversion's own thread.
  const std::string folder = dir.str() + "folder";
  const std::string archive = dir.str() + "archive";
  {
    os::Faults faults;
    faults.failThreadStart = true;
    const os::ScopedFaults planted(faults);
    ASSERT_EQ(test::ConvertSource(source.string(), folder).ending, Ending::Finished);
    ASSERT_EQ(test::ConvertSource(dir.str() + "export.tgz", archive).ending, Ending::Finished);
  }

  const std::string sourceFolder = source.string() + "/";
  const auto expected = test::MailboxRecordSets(test::MirrorOf(normal, sourceFolder));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(test::MailboxRecordSets(test::MirrorOf(archive, sourceFolder)), expected);
  for (const auto& [mailbox, records] : expected)
    EXPECT_EQ(test::ReadFile(test::MirrorOf(folder, sourceFolder) / mailbox),
              test::ReadFile(test::MirrorOf(normal, sourceFolder) / mailbox))
        << mailbox;
}

// Stops the conversion, as Ctrl-C does, once the scan has queued a few files.
class StopWhileScanning : public ConversionSink {
 public:
  void Scanning(std::int32_t files, std::int32_t) override {
    scanned = files;
    if (files == 5) stop.request_stop();
  }
  std::stop_source stop;
  std::int32_t scanned = 0;
};

TEST(ReadingFaults, StopDuringTheScanEndsItAtOnceWithNothingWritten) {
  TempDir dir;
  test::GenerateMessageTree(dir.path() / "export", 40, 4, 7);
  StopWhileScanning sink;
  // Without a thread to walk the folder while it converts, the conversion
  // scans the whole tree first, and tells of it.
  os::Faults faults;
  faults.failThreadStart = true;
  const os::ScopedFaults planted(faults);

  const ConversionReport report = test::ConvertSource(
      dir.str() + "export", dir.str() + "destination", &sink, sink.stop.get_token());

  EXPECT_EQ(report.ending, Ending::Stopped);
  EXPECT_FALSE(report.began);
  EXPECT_EQ(sink.scanned, 5);  // not one file more was queued
  EXPECT_FALSE(fs::exists(dir.path() / "destination"));
}

TEST(ReadingFaults, AFolderThatCannotBeListedWhileConvertingKeepsNothingOfTheRun) {
  TempDir dir;
  const fs::path source = dir.path() / "export";
  test::GenerateMessageTree(source, 400, 8, 7);
  const std::string destination = dir.str() + "destination";
  {
    // The deepest folder is walked last, while the first ones convert.
    os::Faults faults;
    faults.pathPart = test::Utf8(fs::path("Dev") / "Archive");
    faults.failListing = true;
    const os::ScopedFaults planted(faults);
    const ConversionReport report = test::ConvertSource(source.string(), destination);
    EXPECT_EQ(report.ending, Ending::Refused);
    EXPECT_EQ(report.refusal, Refusal::SourceUnreadable);
    EXPECT_EQ(report.reason,
              "cannot read folder " +
                  AddTrailingSeparator(test::Utf8(source / "Lists" / "Dev" / "Archive")) + ": " +
                  std::strerror(EACCES));
  }
  const std::string sourceFolder = source.string() + "/";
  for (const auto& [mailbox, records] :
       test::MailboxRecordSets(test::MirrorOf(destination, sourceFolder)))
    EXPECT_TRUE(records.empty()) << mailbox;

  // Converted again, every message is there once.
  ASSERT_EQ(test::ConvertSource(source.string(), destination).ending, Ending::Finished);
  const std::string fresh = dir.str() + "fresh";
  ASSERT_EQ(test::ConvertSource(source.string(), fresh).ending, Ending::Finished);
  EXPECT_EQ(test::MailboxRecordSets(test::MirrorOf(destination, sourceFolder)),
            test::MailboxRecordSets(test::MirrorOf(fresh, sourceFolder)));
}

#ifndef _WIN32
TEST(ReadingFaults, APipeNamedLikeAnArchiveIsRefusedWithoutWaitingForAWriter) {
  TempDir dir;
  const std::string pipe = dir.str() + "export.tgz";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

  const ConversionReport report = test::ConvertSource(pipe, dir.str() + "destination");

  EXPECT_EQ(report.ending, Ending::SourceBroken);
  EXPECT_EQ(report.reason, "not a regular file");
}
#endif

}  // namespace
}  // namespace quillfen
