#include "source/export_archive.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "conversion/conversion.h"
#include "os/paths.h"
#include "source/archive_names.h"
#include "tests/source/archive_test_support.h"
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

// What a front end is told while it converts.
class RecordingSink : public ConversionSink {
 public:
  void Converting(const ConversionProgress& progress) override {
    steps.push_back(progress);
    if (progress.folder != nullptr) folders.insert(*progress.folder);
    if (progress.mailbox != nullptr) mailboxes.insert(*progress.mailbox);
  }

  std::vector<ConversionProgress> steps;
  std::set<std::string> folders;
  std::set<std::string> mailboxes;
};

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
  RecordingSink folderSink;
  const ConversionReport folderReport =
      test::ConvertSource(source.string(), fromFolder, &folderSink);
  RecordingSink sink;
  const ConversionReport archiveReport = test::ConvertSource(archive.string(), fromArchive, &sink);

  EXPECT_EQ(archiveReport.ending, Ending::Finished);
  EXPECT_THAT(archiveReport.failures, IsEmpty());
  EXPECT_EQ(archiveReport.plan.messages, folderReport.plan.messages);
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

  // Read in one pass, the number of messages is learned only at the end:
  // until then progress goes by the share of the archive read, which ends
  // at the whole file, and folders are named as the extracted export would.
  ASSERT_FALSE(sink.steps.empty());
  EXPECT_TRUE(std::all_of(sink.steps.begin(), sink.steps.end(),
                          [](const auto& step) { return step.messagesTotal == 0; }));
  EXPECT_EQ(sink.steps.back().messages, archiveReport.plan.messages);
  EXPECT_TRUE(std::is_sorted(sink.steps.begin(), sink.steps.end(),
                             [](const auto& a, const auto& b) { return a.fraction < b.fraction; }));
  EXPECT_EQ(sink.steps.back().fraction, 1.0);
  EXPECT_TRUE(sink.folders.count(AddTrailingSeparator(test::Utf8(source / "Inbox!1"))));
  // The progress names the mailboxes as they are written: a batch folder's
  // messages go into its sibling's.
  EXPECT_EQ(sink.mailboxes,
            std::set<std::string>(archiveReport.mailboxes.begin(), archiveReport.mailboxes.end()));
  EXPECT_EQ(folderSink.mailboxes,
            std::set<std::string>(folderReport.mailboxes.begin(), folderReport.mailboxes.end()));
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

// Sparse entries, as GNU tar writes them for files with holes, in both of
// its formats: the holes read as zero bytes, in a message's middle and at
// its end, as they read from the extracted files.
TEST(ExportArchive, SparseEntriesConvertAsTheirFiles) {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  const std::string message =
      "From: a@example.com\nSubject: s\nDate: Tue, 5 Mar 2013 14:07:09 +0000\n\nbody\n";
  const auto sparse = [&source](const std::string& name, std::int64_t size,
                                const std::vector<std::pair<std::int64_t, std::string>>& parts) {
    const fs::path file = source / "Inbox" / name;
    test::WriteFile(file, "");
    fs::resize_file(file, static_cast<std::uintmax_t>(size));
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [offset, bytes] : parts) {
      out.seekp(offset);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  };
  sparse("1-middle.eml", 300000, {{0, message}, {200000, "From here\nend\n"}});
  sparse("2-end.eml", 150000, {{0, message}});
  sparse("3-small.eml", 20000, {{0, message}, {12288, "From there\n"}});
  sparse("4-large.eml", 3000000, {{0, message}, {2000000, std::string(5000, 'x')}});
  const std::string fromFolder = (temp.path() / "from-folder").string() + "/";
  test::ConvertSource(source.string(), fromFolder);
  const auto expected = test::MailboxRecordSets(test::MirrorOf(fromFolder, source.string() + "/"));
  ASSERT_EQ(expected.at("Inbox/Inbox.mbox").size(), 4u);

  for (const std::string format : {"pax", "gnu"}) {
    SCOPED_TRACE(format);
    const fs::path archive = temp.path() / "export.tgz";
    fs::remove(archive);
    const std::string command = "tar --sparse --format=" + format + " -czf '" + archive.string() +
                                "' -C '" + source.string() + "' . 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "GNU tar is not at hand";
    const std::string fromArchive = (temp.path() / ("from-" + format)).string() + "/";
    const ConversionReport report = test::ConvertSource(archive.string(), fromArchive);
    EXPECT_EQ(report.converted, 4);
    EXPECT_TRUE(test::MailboxRecordSets(test::MirrorOf(fromArchive, source.string() + "/")) ==
                expected);
  }
}

TEST(ExportArchive, BatchFolderBeforeItsSiblingJoinsTheSiblingsMailbox) {
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
  const fs::path archive = temp.path() / "export.tgz";
  test::WriteTar(archive, entries);

  const std::string destination = (temp.path() / "out").string() + "/";
  const ConversionReport report = test::ConvertSource(archive.string(), destination);

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
}

TEST(ExportArchive, HostileEntriesAreSkippedReportedAndNeverWrittenOutside) {
  TempDir temp;
  const fs::path outside = temp.path() / "outside";
  fs::create_directories(outside);
  const std::string message = "From: a@example.com\nDate: Tue, 5 Mar 2013 14:07:09 +0000\n\nhi\n";
  using Kind = TarEntry::Kind;
  const std::vector<TarEntry> entries = {
      TarEntry::File("Inbox/1.eml", message),
      // Written with "/", as tar names are, on every system.
      TarEntry::File((outside / "absolute.eml").generic_string(), message),
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
  const ConversionReport report = test::ConvertSource(archive.string(), destination);

  EXPECT_EQ(report.ending, Ending::Finished);
  EXPECT_EQ(report.converted, 2);
  EXPECT_EQ(report.plan.messages, 8);
  EXPECT_THAT(
      report.failures,
      UnorderedElementsAre(Field(&FailedMessage::file, (outside / "absolute.eml").generic_string()),
                           Field(&FailedMessage::file, "../outside/dotdot.eml"),
                           Field(&FailedMessage::file, "Inbox/../../../outside/deep.eml"),
                           Field(&FailedMessage::file, "Inbox/symlink.eml"),
                           Field(&FailedMessage::file, "Inbox/hardlink.eml"),
                           Field(&FailedMessage::file, "Inbox/pipe.eml")));
  for (const FailedMessage& failure : report.failures) EXPECT_FALSE(failure.reason.empty());

  EXPECT_THAT(test::FilesBelow(outside), IsEmpty());
  EXPECT_THAT(test::FilesBelow(temp.path() / "src"), ElementsAre("hostile.tgz"));
  const fs::path mirror = test::MirrorOf(destination, (temp.path() / "src" / "hostile").string());
  EXPECT_THAT(test::FilesBelow(temp.path() / "dest"),
              UnorderedElementsAre((mirror / "Inbox" / "Inbox.mbox")
                                       .lexically_relative(temp.path() / "dest")
                                       .generic_string(),
                                   (mirror / "Escape" / "Escape.mbox")
                                       .lexically_relative(temp.path() / "dest")
                                       .generic_string()));
  EXPECT_FALSE(fs::is_symlink(mirror / "Escape"));
}

// An export as a folder and packed into a .tgz and into a .tar beside it
// (so that all three stand for the same folder), with the records a full
// conversion of it gives, mailbox by mailbox.
struct PackedExport {
  TempDir temp;
  fs::path folder, tgz, tar;
  std::map<std::string, std::vector<std::string>> records;
  std::string root;  // the folder the archives stand for
  int messages = 0;

  PackedExport() {
    folder = temp.path() / "export";
    messages = static_cast<int>(test::GenerateMessageTree(folder, 80, 6, 11, {2000, 20000}).size());
    tgz = temp.path() / "export.tgz";
    tar = temp.path() / "export.tar";
    test::PackFolder(folder, tgz);
    test::PackFolder(folder, tar, {false, true, true});
    root = folder.string() + "/";
    const std::string destination = (temp.path() / "full").string() + "/";
    test::ConvertSource(tgz.string(), destination);
    records = test::MailboxRecordSets(test::MirrorOf(destination, root));
  }
};

TEST(ExportArchive, BrokenArchivesEndTheRunAndLeaveNoRecord) {
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
    const ConversionReport report =
        test::ConvertSource(archive.string(), destination.string() + "/");
    EXPECT_EQ(report.ending, Ending::SourceBroken);
    EXPECT_FALSE(report.reason.empty());
    EXPECT_EQ(report.converted, 0);
    // Read once, a damaged archive may be found only after records were
    // written: they are all taken back. What is no archive at all is found
    // before the destination is touched.
    if (name == "garbage.tgz" || name == "empty.tar") {
      EXPECT_FALSE(report.began);
      EXPECT_FALSE(fs::exists(destination)) << "something was written";
    } else if (fs::exists(destination)) {
      for (const std::string& file : test::FilesBelow(destination))
        EXPECT_TRUE(file.starts_with(".quillfen/")) << file << " was left behind";
    }
  }

  const ConversionReport missing =
      test::ConvertSource((packed.temp.path() / "missing.tgz").string(),
                          (packed.temp.path() / "out-missing/").string());
  EXPECT_EQ(missing.ending, Ending::Refused);
  EXPECT_EQ(missing.refusal, Refusal::SourceMissing);
  EXPECT_FALSE(fs::exists(packed.temp.path() / "out-missing"));
}

// Replaces the archive with a cut copy once its comparison with the
// destination is over, as if the file were overwritten between the reading
// that compares and the reading that converts.
class CutBeforeConverting : public ConversionSink {
 public:
  CutBeforeConverting(fs::path archive, std::string cutBytes)
      : archive_(std::move(archive)), cutBytes_(std::move(cutBytes)) {}
  void Comparing(std::int32_t, std::int32_t) override { compared = true; }
  void Converting(const ConversionProgress&) override {
    if (cut_) return;
    cut_ = true;
    const fs::path replacement = archive_.string() + ".new";
    test::WriteFile(replacement, cutBytes_);
    fs::rename(replacement, archive_);
  }
  bool compared = false;

 private:
  fs::path archive_;
  std::string cutBytes_;
  bool cut_ = false;
};

TEST(ExportArchive, ArchiveBreakingWhileConvertingTakesBackItsRunOnly) {
  PackedExport packed;
  for (const fs::path& original : {packed.tgz, packed.tar}) {
    SCOPED_TRACE(original.filename().string());
    const std::string bytes = test::ReadFile(original);
    const fs::path archive = packed.temp.path() / "cut" / original.filename();
    test::WriteFile(archive, bytes);
    const std::string destination = (packed.temp.path() / "partial").string() + "/";
    fs::remove_all(destination);
    // A mailbox the user had before keeps exactly what it held; that it is
    // there makes the run compare the archive with it first.
    const fs::path mirror =
        test::MirrorOf(destination, (archive.parent_path() / "export").string() + "/");
    const fs::path earlier = mirror / "Inbox" / "Inbox.mbox";
    const std::string kept = "From a Mon Jul 01 00:05:09 2013\r\nSubject: kept\r\n\r\nkept\r\n";
    test::WriteFile(earlier, kept);

    CutBeforeConverting sink(archive, bytes.substr(0, bytes.size() * 2 / 3));
    const ConversionReport report = test::ConvertSource(archive.string(), destination, &sink);
    EXPECT_TRUE(sink.compared);
    EXPECT_EQ(report.ending, Ending::SourceBroken);
    EXPECT_TRUE(report.began);
    std::size_t records = 0;
    for (const auto& [mailbox, texts] : test::MailboxRecordSets(mirror))
      if (mailbox != "Inbox/Inbox.mbox") records += texts.size();
    EXPECT_EQ(records, 0u);
    EXPECT_EQ(test::ReadFile(earlier), kept);
  }
}

struct StopRequested {};

// Stops the conversion once it has dealt with `at` messages: through the
// stop token, or by throwing as a front end may.
class StopAt : public ConversionSink {
 public:
  StopAt(std::int32_t at, std::stop_source* stop) : at_(at), stop_(stop) {}
  void Converting(const ConversionProgress& progress) override {
    if (progress.messages < at_) return;
    if (stop_ == nullptr) throw StopRequested{};
    stop_->request_stop();
  }

 private:
  std::int32_t at_;
  std::stop_source* stop_;
};

TEST(ExportArchive, StoppedRunsOfTheArchiveAndItsFolderAddUpToEveryMessageOnce) {
  PackedExport packed;
  const std::string destination = (packed.temp.path() / "stopped").string() + "/";
  // Each run stops further on. Runs of the archive stopped by the token,
  // of the archive stopped by a throw, and of the extracted folder take
  // turns, so each goes on from what another form of the export left.
  for (int round = 1; round <= 12; ++round) {
    SCOPED_TRACE(round);
    std::stop_source stop;
    const bool throws = round % 3 == 1;
    StopAt sink(round * packed.messages / 13, throws ? nullptr : &stop);
    const fs::path& source = round % 3 == 0 ? packed.folder : packed.tgz;
    if (throws) {
      EXPECT_THROW(test::ConvertSource(source.string(), destination, &sink), StopRequested);
    } else {
      EXPECT_EQ(test::ConvertSource(source.string(), destination, &sink, stop.get_token()).ending,
                Ending::Stopped);
    }
  }
  RecordingSink progress;
  const ConversionReport last = test::ConvertSource(packed.tgz.string(), destination, &progress);
  EXPECT_EQ(last.ending, Ending::Finished);
  EXPECT_GT(last.plan.held, packed.messages / 2);
  EXPECT_EQ(last.plan.held + last.added, packed.messages);
  EXPECT_EQ(last.converted, packed.messages);
  // The progress counts what this run writes, not what was held.
  ASSERT_FALSE(progress.steps.empty());
  EXPECT_EQ(progress.steps.back().fresh, last.added);
  EXPECT_EQ(progress.steps.back().freshTotal, last.added);
  EXPECT_EQ(progress.steps.back().messages, packed.messages);
  EXPECT_TRUE(test::MailboxRecordSets(test::MirrorOf(destination, packed.root)) == packed.records);
}

TEST(ArchiveNames, ArchivePathsAndTheFolderTheyStandFor) {
  for (const char* path : {"/a/export.tgz", "/a/export.TGZ", "/a/x.tar.gz", "/a/x.Tar.Gz", "x.tar"})
    EXPECT_TRUE(IsArchivePath(path)) << path;
  for (const char* path : {"/a/export", "/a/x.gz", "/a/x.zip", "/a/x.tar.bz2", "/a/tgz", ""})
    EXPECT_FALSE(IsArchivePath(path)) << path;

  using test::RootedPath;
  EXPECT_EQ(ArchiveExtractionFolder(RootedPath("a/b/export.tgz")), RootedPath("a/b/export/"));
  EXPECT_EQ(ArchiveExtractionFolder(RootedPath("a/b/Export.Tar.GZ")), RootedPath("a/b/Export/"));
  EXPECT_EQ(ArchiveExtractionFolder(RootedPath("a/./b/../c/export.tar")),
            RootedPath("a/c/export/"));
  EXPECT_EQ(ArchiveExtractionFolder("export.tgz"),
            AddTrailingSeparator(test::Utf8(fs::current_path() / "export")));
}

#ifndef _WIN32
// The window's toolkit chooses the user's locale, the command line none: the
// names read from an archive are the same under either. In a UTF-8 locale
// the archive library composed "Cafe" with a combining accent into "Café",
// which made two folders one.
TEST(ArchiveNames, TheProcessLocaleChangesNoName) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale here";
  TempDir temp;
  const std::string message = "From: a@example.com\n\nbody\n";
  // Written in the UTF-8 locale, so that the names are stored as UTF-8.
  test::WriteTar(temp.path() / "export.tgz", {TarEntry::File("Cafe\xCC\x81/1.eml", message),
                                              TarEntry::File("Caf\xC3\xA9/2.eml", message)});
  const ConversionReport report =
      test::ConvertSource((temp.path() / "export.tgz").string(), temp.str() + "out");
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_EQ(report.converted, 2);
  EXPECT_EQ(report.mailboxes.size(), 2u);
}
#endif

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
