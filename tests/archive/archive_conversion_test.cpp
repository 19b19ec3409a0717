#include "convert/archive_conversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "convert/archive_entry_names.h"
#include "tests/archive/archive_test_support.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::TarEntry;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class RecordingProgress : public ArchiveProgress {
 public:
  void Counting(std::int32_t entries) override { counted = entries; }
  void SetProgress(std::int32_t done, std::int32_t total) override {
    steps.emplace_back(done, total);
  }
  void SetFractionRead(double fraction) override { fractions.push_back(fraction); }
  void SetCurrentFolder(const std::string& folder) override { folders.insert(folder); }

  std::int32_t counted = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> steps;
  std::vector<double> fractions;
  std::set<std::string> folders;
};

// Converts as a front end that shows the number of entries first does:
// the archive is surveyed before its conversion.
RunReport ConvertSurveyed(const fs::path& archive, const std::string& destination,
                          ArchiveProgress* progress, ReaderState& readers) {
  ArchiveConversion conversion(archive.string(), progress, ArchiveReading::SurveyFirst);
  const auto journal = std::make_unique<DestinationJournal>(destination, conversion.identity());
  journal->Begin(journal->earlier() == EarlierConversion::Interrupted);
  return conversion.Convert(*journal, readers);
}

// Adds to a generated tree what the generator leaves out: a batch folder
// without its sibling, a folder reached only through deeper folders, an
// old envelope line with no date at all, a name with a trailing space, an
// upper-case extension and a name that only looks like a message.
void AddAwkwardMessages(const fs::path& root) {
  const std::string plain = "From: a@example.com\nSubject: x\n\nbody\nFrom here on\n";
  test::WriteFile(root / "Solo!1" / "1.eml", plain);
  test::WriteFile(root / "Deep" / "Er" / "Still" / "2.eml", plain);
  test::WriteFile(root / "Inbox" / "ENVELOPE.EML",
                  "From old@example.com Tue Mar  5 14:07:09 2013\nFrom: b@example.com\n\nhi\n");
  fs::last_write_time(root / "Inbox" / "ENVELOPE.EML",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  test::WriteFile(root / "Inbox" / "spaced.eml ", plain);
  test::WriteFile(root / "Inbox" / "notes.emlx", plain);
}

struct Flavour {
  const char* archiveName;
  test::TarOptions options;
  friend void PrintTo(const Flavour& flavour, std::ostream* out) { *out << flavour.archiveName; }
};

class ArchiveMatchesFolder : public ::testing::TestWithParam<Flavour> {};

TEST_P(ArchiveMatchesFolder, SameMailboxesWithSameRecords) {
  const Flavour flavour = GetParam();
  TempDir temp;
  const fs::path source = temp.path() / "export";
  test::GenerateMessageTree(source, 150, 9, 7);
  AddAwkwardMessages(source);
  const fs::path archive = temp.path() / flavour.archiveName;
  test::PackFolder(source, archive, flavour.options);

  const std::string fromFolder = (temp.path() / "from-folder").string() + "/";
  const std::string fromArchive = (temp.path() / "from-archive").string() + "/";
  const RunReport folderReport = test::ConvertFolder(source.string() + "/", fromFolder);

  RecordingProgress progress;
  ReaderState readers;
  const RunReport archiveReport = ConvertArchive(archive.string(), fromArchive, &progress, readers);

  EXPECT_THAT(archiveReport.failures, IsEmpty());
  EXPECT_EQ(archiveReport.messages, folderReport.messages);
  EXPECT_EQ(archiveReport.converted, folderReport.converted);
  EXPECT_EQ(archiveReport.mailboxes.size(), folderReport.mailboxes.size());

  // Both conversions mirror the same folder path, so whole destination
  // trees compare: same files, and each mailbox the same records.
  EXPECT_EQ(test::FilesBelow(fromArchive), test::FilesBelow(fromFolder));
  const auto expected = test::MailboxRecordSets(test::MirrorOf(fromFolder, source.string() + "/"));
  const auto actual = test::MailboxRecordSets(test::MirrorOf(fromArchive, source.string() + "/"));
  EXPECT_TRUE(expected.count("Inbox/Inbox.mbox"));
  EXPECT_FALSE(expected.count("Inbox!1/Inbox!1.mbox")) << "batch messages belong to Inbox";
  EXPECT_TRUE(expected.count("Solo!1/Solo!1.mbox"));
  EXPECT_TRUE(expected.count("Deep/Er/Still/Still.mbox"));
  EXPECT_TRUE(actual == expected) << "the records of some mailbox differ";

  // Read in one pass, progress counts messages with no total, the share
  // read ends at the whole file, and folders are named as the extracted
  // export would.
  ASSERT_FALSE(progress.steps.empty());
  EXPECT_EQ(progress.steps.front().first, 0);
  EXPECT_EQ(progress.steps.back().first, archiveReport.messages);
  EXPECT_TRUE(std::all_of(progress.steps.begin(), progress.steps.end(),
                          [](const auto& step) { return step.second == 0; }));
  ASSERT_FALSE(progress.fractions.empty());
  EXPECT_TRUE(std::is_sorted(progress.fractions.begin(), progress.fractions.end()));
  EXPECT_EQ(progress.fractions.back(), 1.0);
  EXPECT_TRUE(progress.folders.count(source.string() + "/Inbox!1/"));
}

INSTANTIATE_TEST_SUITE_P(Flavours, ArchiveMatchesFolder,
                         ::testing::Values(Flavour{"export.tgz", {true, true, true}},
                                           Flavour{"export.TAR", {false, false, false}},
                                           Flavour{"export.tar.gz", {true, false, false}}),
                         [](const auto& info) {
                           return std::string(info.param.options.gzip ? "Gzip" : "Plain") +
                                  (info.param.options.pax ? "Pax" : "Ustar") +
                                  (info.param.options.folderEntries ? "WithFolders" : "FilesOnly");
                         });

TEST(ArchiveConversion, BatchFolderBeforeItsSiblingJoinsTheSiblingsMailbox) {
  TempDir temp;
  const auto message = [](const std::string& subject) {
    return "From: a@example.com\nSubject: " + subject + "\n\nbody\n";
  };
  // Batch folders come first: "Inbox!1" before anything of "Inbox",
  // "Deep!2" before the only entry that proves "Deep", below it, and
  // "Solo!1" whose sibling never comes.
  const std::vector<TarEntry> entries = {
      TarEntry::File("Inbox!1/1.eml", message("batch")),
      TarEntry::File("Deep!2/2.eml", message("deep batch")),
      TarEntry::File("Solo!1/3.eml", message("solo")),
      TarEntry::File("Inbox/4.eml", message("first")),
      TarEntry::File("Deep/Sub/notes.txt", "not a message"),
  };
  // As a real export holds them: a folder's first items before its batch
  // folders, and every batch folder with its sibling.
  const std::vector<TarEntry> usual = {entries[3], entries[4], entries[0], entries[1]};
  test::WriteTar(temp.path() / "export.tgz", entries);
  fs::create_directories(temp.path() / "usual");
  test::WriteTar(temp.path() / "usual" / "export.tgz", usual);

  ReaderState readers;
  RecordingProgress usualProgress;
  const std::string usualDestination = (temp.path() / "usual-out").string() + "/";
  ConvertArchive((temp.path() / "usual" / "export.tgz").string(), usualDestination, &usualProgress,
                 readers);
  EXPECT_EQ(usualProgress.counted, 0) << "the archive was read twice";
  EXPECT_THAT(
      test::FilesBelow(test::MirrorOf(usualDestination, (temp.path() / "usual/export/").string())),
      UnorderedElementsAre("Inbox/Inbox.mbox", "Deep/Deep.mbox"));

  const std::string destination = (temp.path() / "out").string() + "/";
  RecordingProgress progress;
  const RunReport report =
      ConvertArchive((temp.path() / "export.tgz").string(), destination, &progress, readers);

  EXPECT_THAT(report.failures, IsEmpty());
  EXPECT_EQ(report.converted, 4);
  const fs::path mirror = test::MirrorOf(destination, (temp.path() / "export").string() + "/");
  const auto subjects = [&](const std::string& mailbox) {
    std::vector<std::string> found;
    for (const test::StoredRecord& record : test::ReadMbox(mirror / mailbox)) {
      const std::size_t at = record.text.find("Subject: ");
      found.push_back(record.text.substr(at + 9, record.text.find('\n', at) - at - 9));
    }
    return found;
  };
  EXPECT_THAT(test::FilesBelow(mirror),
              UnorderedElementsAre("Inbox/Inbox.mbox", "Deep/Deep.mbox", "Solo!1/Solo!1.mbox"));
  // Records stay in archive order.
  EXPECT_THAT(subjects("Inbox/Inbox.mbox"), ElementsAre("batch", "first"));
  EXPECT_THAT(subjects("Deep/Deep.mbox"), ElementsAre("deep batch"));
  EXPECT_GT(progress.counted, 0) << "the headers were not read again to decide";
}

TEST(ArchiveConversion, CorpusAsArchiveMatchesTheCorpusFolder) {
  const fs::path corpus = test::CorpusRoot();
  if (corpus.empty()) GTEST_SKIP() << "the shared test corpus is absent";
  TempDir temp;
  const fs::path archive = temp.path() / "zimbra-export.tgz";
  test::PackFolder(corpus, archive);

  const std::string fromFolder = (temp.path() / "from-folder").string() + "/";
  const std::string fromArchive = (temp.path() / "from-archive").string() + "/";
  const RunReport folderReport = test::ConvertFolder(corpus.string() + "/", fromFolder);
  ReaderState readers;
  const RunReport archiveReport = ConvertArchive(archive.string(), fromArchive, nullptr, readers);

  EXPECT_EQ(archiveReport.failures.size(), folderReport.failures.size());
  EXPECT_EQ(archiveReport.converted, folderReport.converted);
  EXPECT_GT(archiveReport.converted, 100);
  const auto expected = test::MailboxRecordSets(test::MirrorOf(fromFolder, corpus.string() + "/"));
  const auto actual = test::MailboxRecordSets(
      test::MirrorOf(fromArchive, (temp.path() / "zimbra-export").string() + "/"));
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(expected.count("Lists/LKML/LKML.mbox"));
  EXPECT_FALSE(expected.count("Lists/LKML!1/LKML!1.mbox"));
  for (const auto& [mailbox, records] : expected) {
    ASSERT_TRUE(actual.count(mailbox)) << mailbox << " is missing";
    EXPECT_TRUE(actual.at(mailbox) == records) << mailbox << " holds other records";
  }
  EXPECT_EQ(actual.size(), expected.size());
}

TEST(ArchiveConversion, HostileEntriesAreSkippedReportedAndNeverWrittenOutside) {
  TempDir temp;
  const fs::path outside = temp.path() / "outside";
  fs::create_directories(outside);
  const std::string message = "From: a@example.com\nDate: Tue, 5 Mar 2013 14:07:09 +0000\n\nhi\n";
  using Kind = TarEntry::Kind;
  const std::vector<TarEntry> entries = {
      TarEntry::File("Inbox/1.eml", message),
      TarEntry::File((outside / "absolute.eml").string(), message),
      TarEntry::File("../outside/dotdot.eml", message),
      TarEntry::File("Inbox/../../../outside/deep.eml", message),
      TarEntry::Link("Inbox/symlink.eml", Kind::Symlink, "../../outside/x.eml"),
      TarEntry::Link("Inbox/hardlink.eml", Kind::Hardlink, "Inbox/1.eml"),
      TarEntry::Fifo("Inbox/pipe.eml"),
      // A folder entry that is a link to the outside, then a file below it:
      // nothing is extracted, so the file lands in a real mirror folder.
      TarEntry::Link("Escape", Kind::Symlink, outside.string()),
      TarEntry::File("Escape/2.eml", message),
      TarEntry::File("/etc/not-a-message.txt", "x"),
  };
  const fs::path archive = temp.path() / "src" / "hostile.tgz";
  fs::create_directories(archive.parent_path());
  test::WriteTar(archive, entries);

  const std::string destination = (temp.path() / "dest").string() + "/";
  ReaderState readers;
  const RunReport report = ConvertArchive(archive.string(), destination, nullptr, readers);

  EXPECT_EQ(report.converted, 2);
  EXPECT_EQ(report.messages, 8);
  EXPECT_THAT(report.failures,
              UnorderedElementsAre(Field(&FailedMessage::file, (outside / "absolute.eml").string()),
                                   Field(&FailedMessage::file, "../outside/dotdot.eml"),
                                   Field(&FailedMessage::file, "Inbox/../../../outside/deep.eml"),
                                   Field(&FailedMessage::file, "Inbox/symlink.eml"),
                                   Field(&FailedMessage::file, "Inbox/hardlink.eml"),
                                   Field(&FailedMessage::file, "Inbox/pipe.eml")));
  for (const FailedMessage& failure : report.failures) EXPECT_FALSE(failure.reason.empty());

  EXPECT_THAT(test::FilesBelow(outside), IsEmpty());
  EXPECT_THAT(test::FilesBelow(temp.path() / "src"), ElementsAre("hostile.tgz"));
  const fs::path mirror = test::MirrorOf(destination, (temp.path() / "src" / "hostile").string());
  EXPECT_THAT(
      test::FilesBelow(temp.path() / "dest"),
      UnorderedElementsAre(
          (mirror / "Inbox" / "Inbox.mbox").lexically_relative(temp.path() / "dest").string(),
          (mirror / "Escape" / "Escape.mbox").lexically_relative(temp.path() / "dest").string()));
  EXPECT_FALSE(fs::is_symlink(mirror / "Escape"));
}

// An export packed into a .tgz and into a .tar, with the records a full
// conversion of it gives, mailbox by mailbox.
struct PackedExport {
  TempDir temp;
  fs::path tgz, tar;
  std::map<std::string, std::vector<std::string>> records;
  std::string root;  // the folder the archives stand for

  PackedExport() {
    const fs::path source = temp.path() / "export";
    test::GenerateMessageTree(source, 80, 6, 11, {2000, 20000});
    tgz = temp.path() / "export.tgz";
    tar = temp.path() / "export.tar";
    test::PackFolder(source, tgz);
    test::PackFolder(source, tar, {false, true, true});
    root = source.string() + "/";
    const std::string destination = (temp.path() / "full").string() + "/";
    ReaderState readers;
    ConvertArchive(tgz.string(), destination, nullptr, readers);
    records = test::MailboxRecordSets(test::MirrorOf(destination, root));
  }
};

TEST(ArchiveConversion, BrokenArchivesStopWithTheirNameAndLeaveNoRecord) {
  PackedExport packed;
  const std::string tgzBytes = test::ReadFile(packed.tgz);
  const std::string tarBytes = test::ReadFile(packed.tar);
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"cut-early.tgz", tgzBytes.substr(0, tgzBytes.size() / 10)},
      {"cut-late.tgz", tgzBytes.substr(0, tgzBytes.size() - 12)},
      {"cut-mid-data.tar", tarBytes.substr(0, tarBytes.size() / 2 + 100)},
      {"garbage.tgz", std::string(5000, 'x')},
      {"empty.tar", ""},
      {"flipped.tgz",
       [&] {
         std::string bytes = tgzBytes;
         for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] ^= 0x5a;
         return bytes;
       }()},
  };
  for (const auto& [name, bytes] : broken) {
    SCOPED_TRACE(name);
    const fs::path archive = packed.temp.path() / name;
    test::WriteFile(archive, bytes);
    const fs::path destination = packed.temp.path() / ("out-" + name);
    ReaderState readers;
    try {
      ConvertArchive(archive.string(), destination.string() + "/", nullptr, readers);
      ADD_FAILURE() << "a broken archive converted without an error";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.archivePath(), archive.string());
      EXPECT_THAT(e.what(), ::testing::HasSubstr(archive.string()));
      EXPECT_FALSE(e.reason().empty());
      EXPECT_EQ(e.report().converted, 0);
    }
    // Read once, a damaged archive may be found only after records were
    // written: they are all taken back. What is no archive at all is found
    // before the destination is touched.
    if (name == "garbage.tgz" || name == "empty.tar") {
      EXPECT_FALSE(fs::exists(destination)) << "something was written";
    } else if (fs::exists(destination)) {
      for (const std::string& file : test::FilesBelow(destination))
        EXPECT_TRUE(file.starts_with(".quillfen/")) << file << " was left behind";
    }
  }

  ReaderState readers;
  EXPECT_THROW(ConvertArchive((packed.temp.path() / "missing.tgz").string(),
                              (packed.temp.path() / "out-missing/").string(), nullptr, readers),
               ArchiveError);
}

// Replaces the archive with a cut copy once the counting pass of a surveyed
// conversion is over, as if the file were overwritten between its passes.
class CutAfterCounting : public ArchiveProgress {
 public:
  CutAfterCounting(fs::path archive, std::string cutBytes)
      : archive_(std::move(archive)), cutBytes_(std::move(cutBytes)) {}
  void SetProgress(std::int32_t done, std::int32_t) override {
    if (done != 0 || cut_) return;
    cut_ = true;
    const fs::path replacement = archive_.string() + ".new";
    test::WriteFile(replacement, cutBytes_);
    fs::rename(replacement, archive_);
  }

 private:
  fs::path archive_;
  std::string cutBytes_;
  bool cut_ = false;
};

TEST(ArchiveConversion, ArchiveBreakingDuringConversionLeavesNothingOfItsRun) {
  PackedExport packed;
  for (const fs::path& original : {packed.tgz, packed.tar}) {
    SCOPED_TRACE(original.filename().string());
    const std::string bytes = test::ReadFile(original);
    const fs::path archive = packed.temp.path() / "cut" / original.filename();
    test::WriteFile(archive, bytes);
    CutAfterCounting progress(archive, bytes.substr(0, bytes.size() * 2 / 3));
    const std::string destination = (packed.temp.path() / "partial").string() + "/";
    fs::remove_all(destination);
    // A mailbox the user had before keeps exactly what it held.
    const fs::path mirror =
        test::MirrorOf(destination, (archive.parent_path() / "export").string() + "/");
    const fs::path earlier = mirror / "Inbox" / "Inbox.mbox";
    const std::string kept = "From a Mon Jul 01 00:05:09 2013\r\nSubject: kept\r\n\r\nkept\r\n";
    fs::create_directories(earlier.parent_path());
    test::WriteFile(earlier, kept);

    ReaderState readers;
    EXPECT_THROW(ConvertSurveyed(archive, destination, &progress, readers), ArchiveError);
    std::size_t records = 0;
    for (const auto& [mailbox, texts] : test::MailboxRecordSets(mirror))
      if (mailbox != "Inbox/Inbox.mbox") records += texts.size();
    EXPECT_EQ(records, 0u);
    EXPECT_EQ(test::ReadFile(earlier), kept);
  }
}

struct StopRequested {};

// A front end stops the conversion by throwing from its Yield, at the
// stopAt-th yield of the converting pass.
class StopAfterYields : public ArchiveProgress {
 public:
  explicit StopAfterYields(int stopAt) : stopAt_(stopAt) {}
  void SetProgress(std::int32_t, std::int32_t) override { converting_ = true; }
  void Yield() override {
    if (converting_ && ++yields_ == stopAt_) throw StopRequested{};
  }

 private:
  int stopAt_;
  int yields_ = 0;
  bool converting_ = false;
};

TEST(ArchiveConversion, StopsAndResumesGiveEveryMessageOnceWhicheverWayTheArchiveIsRead) {
  PackedExport packed;
  const std::string destination = (packed.temp.path() / "stopped").string() + "/";
  ReaderState readers;
  // Each stop lands at a different yield: between entries, and inside the
  // reading and the appending of a message. Runs read in one pass and runs
  // that survey first take turns, so each resumes what the other left.
  for (int later = 1; later <= 24; ++later) {
    SCOPED_TRACE(later);
    StopAfterYields progress(later * 3);
    if (later % 2 == 0)
      EXPECT_THROW(ConvertArchive(packed.tgz.string(), destination, &progress, readers),
                   StopRequested);
    else
      EXPECT_THROW(ConvertSurveyed(packed.tgz, destination, &progress, readers), StopRequested);
  }
  const RunReport last = ConvertArchive(packed.tgz.string(), destination, nullptr, readers);
  EXPECT_GT(last.alreadyConverted, 0);
  EXPECT_TRUE(test::MailboxRecordSets(test::MirrorOf(destination, packed.root)) == packed.records);
}

TEST(ArchiveNames, ArchivePathsAndTheFolderTheyStandFor) {
  for (const char* path : {"/a/export.tgz", "/a/export.TGZ", "/a/x.tar.gz", "/a/x.Tar.Gz", "x.tar"})
    EXPECT_TRUE(IsArchivePath(path)) << path;
  for (const char* path : {"/a/export", "/a/x.gz", "/a/x.zip", "/a/x.tar.bz2", "/a/tgz", ""})
    EXPECT_FALSE(IsArchivePath(path)) << path;

  EXPECT_EQ(ArchiveExtractionFolder("/a/b/export.tgz"), "/a/b/export/");
  EXPECT_EQ(ArchiveExtractionFolder("/a/b/Export.Tar.GZ"), "/a/b/Export/");
  EXPECT_EQ(ArchiveExtractionFolder("/a/./b/../c/export.tar"), "/a/c/export/");
  EXPECT_EQ(ArchiveExtractionFolder("export.tgz"), (fs::current_path() / "export").string() + "/");
}

TEST(ArchiveNames, EntryNamesThatLeaveTheirFolderAreRefused) {
  EXPECT_EQ(ParseArchiveEntryName("./Inbox//1.eml", PathStyle::Posix()).relative, "Inbox/1.eml");
  EXPECT_EQ(ParseArchiveEntryName("Inbox/", PathStyle::Posix()).relative, "Inbox");
  EXPECT_EQ(ParseArchiveEntryName("a/..b/c..", PathStyle::Posix()).relative, "a/..b/c..");
  EXPECT_EQ(ParseArchiveEntryName("a\\b.eml", PathStyle::Posix()).relative, "a\\b.eml");
  EXPECT_EQ(ParseArchiveEntryName("Inbox/1.eml", PathStyle::Windows()).relative, "Inbox\\1.eml");
  for (const char* name : {"/etc/x.eml", "../x.eml", "a/../../x.eml", "a/..", ".."})
    EXPECT_FALSE(ParseArchiveEntryName(name, PathStyle::Posix()).problem.empty()) << name;
  for (const char* name : {"a\\..\\..\\x.eml", "C:/x.eml", "a/C:x.eml", "\\x.eml"})
    EXPECT_FALSE(ParseArchiveEntryName(name, PathStyle::Windows()).problem.empty()) << name;
}

}  // namespace
}  // namespace quillfen
