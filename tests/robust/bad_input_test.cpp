// Awkward messages and awkward trees: each message must give a whole record
// or a failure reported for its file, and the source tree must not change.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "destination/mirror_paths.h"
#include "os/local_time.h"
#include "os/paths.h"
#include "source/folder_walker.h"
#include "tests/robust/robust_support.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

// Bytes of every value, NULs included, with a few lines that a careless
// writer would take for record separators.
std::string BinaryBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  for (std::size_t at = 1000; at + 20 < size; at += 7919) bytes.replace(at, 6, "\nFrom ");
  return bytes;
}

class BadInput : public ::testing::Test {
 protected:
  TempDir source;
  TempDir destination;

  fs::path Write(const std::string& relative, const std::string& bytes) {
    const fs::path path = source.path() / relative;
    WriteFile(path, bytes);
    return path;
  }

  // Walks and converts the source, checking that the source tree is left as
  // it was and that every mailbox holds exactly the messages that did not
  // fail, each whole.
  TreeConversion ConvertChecked(const fs::path& into = {}) {
    const fs::path target = into.empty() ? destination.path() : into;
    fs::create_directories(target);
    const auto before = SnapshotTree(source.path(), target);
    TreeConversion result = ConvertTree(source.path(), target);
    EXPECT_EQ(SnapshotTree(source.path(), target), before) << "the source tree changed";
    EXPECT_EQ(Joined(CheckMailboxes(target, result.queue, &result.report)), "");
    return result;
  }

  static std::map<std::string, std::string> Failures(const ConversionReport& report) {
    std::map<std::string, std::string> failures;
    for (const FailedMessage& failure : report.failures)
      failures[fs::path(failure.file).filename().string()] = failure.reason;
    return failures;
  }

  // The From line of the one record in the mailbox of message's folder.
  std::string FromLineOf(const fs::path& message) {
    const std::string mailbox =
        MboxFileFor(MirrorFolderFor(Utf8(fs::path(message).make_preferred()), destination.str()));
    std::vector<SplitRecord> records;
    std::string reason;
    if (!SplitMbox(ReadFile(PathOf(mailbox)), records, reason) || records.size() != 1) {
      ADD_FAILURE() << mailbox << ": " << reason << " (" << records.size() << " records)";
      return {};
    }
    return records[0].fromLine;
  }
};

TEST_F(BadInput, MalformedMessagesBecomeWholeRecords) {
  Write("Mail/Inbox/01-empty.eml", "");
  Write("Mail/Inbox/02-only-headers.eml", "From: ann@example.org\r\nSubject: only headers");
  Write("Mail/Inbox/03-no-empty-line.eml",
        "From: ann@example.org\nSubject: x\nno blank line before this body\nFrom here on\n");
  Write("Mail/Inbox/04-binary.eml", BinaryBytes(64 * 1024, 7));
  Write(
      "Mail/Inbox/05-nul-bytes.eml",
      std::string("From: ann\0x@example.org\r\nSubject: a\0b\r\n\r\nbody\0\0\r\nFrom \0\r\n", 54));
  Write("Mail/Inbox/06-bare-cr.eml", "From: ann@example.org\rSubject: x\r\rbody\rFrom oops\r");
  Write("Mail/Envelope/07-envelope.eml",
        "From old@example.org Tue Mar  5 14:07:09 2013\nReturn-Path: <env@example.org>\n"
        "Date: Tue, 5 Mar 2013 14:07:09 +0000\nSubject: envelope\n\nFrom the envelope\n>From "
        "quoted\n>>From twice\n");
  Write("Mail/Inbox/08-envelope-only.eml", "From old@example.org Tue Mar  5 14:07:09 2013");
  Write("Mail/Inbox/09-quoting.eml",
        "Subject: q\n\nFrom \n>From \n>>>>From x\nFrom:\n>From:x\n From x\nFrom");
  Write("Mail/Inbox/10-only-line-ends.eml", "\r\n\r\n\n\n");

  const TreeConversion result = ConvertChecked();
  EXPECT_EQ(result.report.plan.messages, 10);
  EXPECT_EQ(result.report.converted, 10) << "failures: " << result.report.failures.size();
  // The envelope line gives way to the record's own From line, and the
  // sender comes from the headers below it.
  EXPECT_TRUE(FromLineOf(source.path() / "Mail/Envelope/07-envelope.eml")
                  .starts_with("From env@example.org Tue Mar 05 14:07:09 2013"));
}

TEST_F(BadInput, BrokenSenderAndDateHeadersGiveOneLineWithASaneSenderAndDate) {
  // A fixed modification time stands in for a message without a usable date.
  const std::time_t mtime = 1301713445;  // early April 2011
  const std::tm local = os::LocalTime(mtime).value();
  char expectedDate[64];
  std::strftime(expectedDate, sizeof expectedDate, "%a %b %d %H:%M:%S %Y", &local);

  struct Case {
    std::string name;
    std::string headers;
    std::string sender;  // expected sender, or empty to check the shape only
    bool mtimeDate = false;
  };
  const std::vector<Case> cases = {
      {"no-date", "From: ann@example.org\r\n", "ann@example.org", true},
      {"bad-date", "From: ann@example.org\r\nDate: the day after tomorrow\r\n", "ann@example.org",
       true},
      {"impossible-date", "From: ann@example.org\r\nDate: Mon, 45 Foo 2013 99:99:99 +0000\r\n", "",
       false},
      {"no-address", "From: Undisclosed recipients\r\nDate: Tue, 5 Mar 2013 14:07:09 +0000\r\n", "",
       false},
      {"empty-from", "From:\r\nSender: <>\r\n", "MAILER-DAEMON", true},
      {"cr-in-return-path", "Return-Path: <ev\ril@example.org>\r\nFrom: ann@example.org\r\n", "",
       true},
      {"folded-return-path", "Return-Path: <evil\r\n @example.org>\r\n", "", true},
      {"lf-in-from", "From: \"Ann\" <ann\n@example.org>\r\n", "", true},
      {"spaces-in-from", "From: \"x\" <a b\tc@example.org>\r\n", "", true},
      {"controls-in-from",
       "From: <a\x01\x0b\x0c\x7f"
       "b@example.org>\r\n",
       "", true},
      {"unicode-spaces",
       "From: <a\xc2\xa0"
       "b\xe2\x80\xa8"
       "c\xc2\x85@example.org>\r\n",
       "", true},
      {"eight-bit", "From: <\xe9t\xe9@example.org>\r\n", "", true},
      {"null-return-path", "Return-Path: <>\r\nFrom: ann@example.org\r\n", "ann@example.org", true},
  };
  std::vector<fs::path> files;
  for (const Case& c : cases) {
    const fs::path file = Write("Mail/" + c.name + "/m.eml", c.headers + "\r\nbody\r\n");
    fs::last_write_time(
        file, std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(mtime)));
    files.push_back(file);
  }

  const TreeConversion result = ConvertChecked();
  EXPECT_EQ(result.report.converted, static_cast<int>(cases.size()));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string line = FromLineOf(files[i]);
    EXPECT_TRUE(IsWellFormedFromLine(line)) << line;
    if (!cases[i].sender.empty()) {
      EXPECT_EQ(line.substr(5, line.find(' ', 5) - 5), cases[i].sender);
    }
    if (cases[i].mtimeDate) {
      EXPECT_TRUE(line.ends_with(expectedDate)) << line;
    }
  }
}

TEST_F(BadInput, HugeHeaderLineAndLargeMessagesArriveWhole) {
  // A 10 MiB header line hides the Date behind it; a 50 MiB message is
  // full of lines that need quoting.
  std::string longLine = "From: ann@example.org\r\nX-Long: " + std::string(10 << 20, 'x') +
                         "\r\nDate: Tue, 5 Mar 2013 14:07:09 +0000\r\n\r\nbody\r\n";
  Write("Mail/Long/long-header.eml", longLine);
  longLine.clear();

  std::string huge = "From: bob@example.org\r\nSubject: big\r\n\r\n";
  const std::string line = "From the body, a line that must be quoted, and some more text.\r\n";
  while (huge.size() < (50u << 20)) huge += line;
  Write("Mail/Huge/huge.eml", huge);
  huge.clear();

  // Messages on either side of the largest one read ahead whole (1 MiB),
  // several times the memory read ahead in all, so that it is reused
  // round and round.
  const std::size_t sizes[] = {1 << 20,   (1 << 20) - 1, (1 << 20) + 1, 700 << 10, 1 << 20,
                               300 << 10, (1 << 20) - 1, 900 << 10,     1 << 20,   5,
                               1 << 20,   (1 << 20) - 2, 600 << 10,     1 << 20};
  int number = 0;
  for (const std::size_t size : sizes) {
    std::string message = "From: c" + std::to_string(number) + "@example.org\r\n\r\n";
    while (message.size() < size) message += line;
    message.resize(size);
    Write("Mail/Sizes/" + std::to_string(10 + number++) + ".eml", message);
  }

  const TreeConversion result = ConvertChecked();
  EXPECT_EQ(result.report.converted, 2 + number);
  EXPECT_EQ(FromLineOf(source.path() / "Mail/Huge/huge.eml").substr(0, 19), "From bob@example.or");
}

TEST_F(BadInput, AwkwardNamesAndTreeShapes) {
  const std::string message = "From: ann@example.org\r\nSubject: s\r\n\r\nbody\r\n";
  // A folder named like a message is a folder: its messages are converted,
  // the folder itself is never read as a message.
  Write("Mail/y.eml/inner.eml", message);
  // Forty levels of folders.
  std::string deep = "Mail";
  for (int level = 0; level < 40; ++level) deep += "/d" + std::to_string(level);
  Write(deep + "/deep.eml", message);
  int messages = 2;
  std::size_t failed = 0;
#ifndef _WIN32
  // Names that are not valid UTF-8, for a folder and a file (Windows names
  // are UTF-16 and cannot be).
  Write("Mail/caf\xe9/\xff\xfe.eml", message);
  // A dangling link named like a message: a failure for that file only.
  fs::create_directories(source.path() / "Mail/Links");
  fs::create_symlink(source.path() / "nowhere", source.path() / "Mail/Links/x.eml");
  Write("Mail/Links/ok.eml", message);
  // A link back up the tree: the folders below are converted once.
  fs::create_directory_symlink(source.path() / "Mail", source.path() / "Mail/Links/loop");
  // A name with a trailing space is read by that exact name (Windows drops
  // a trailing space from every name it is given).
  Write("Mail/Space/trailing.eml ", message);
  messages += 4;
  failed = 1;
#endif

  const TreeConversion result = ConvertChecked();
  const auto failures = Failures(result.report);
  ASSERT_EQ(failures.size(), failed);
  if (failed > 0) {
    EXPECT_TRUE(failures.count("x.eml")) << failures.begin()->first;
  }
  EXPECT_EQ(result.report.plan.messages, messages);
  EXPECT_EQ(result.report.converted, messages - static_cast<int>(failed));
  const std::string mirror = MirrorFolderFor(
      Utf8((source.path() / "Mail/y.eml/inner.eml").make_preferred()), destination.str());
  EXPECT_TRUE(fs::exists(PathOf(MboxFileFor(mirror)))) << mirror;
}

#ifndef _WIN32
// Entries that are not regular files but are named like messages: reading a
// pipe would wait for a writer for ever, and a device such as /dev/zero
// would never end. Each fails by itself instead.
TEST_F(BadInput, PipesAndDevicesNamedLikeMessagesFailWithoutHanging) {
  Write("Mail/Odd/ok.eml", "From: ann@example.org\r\n\r\nbody\r\n");
  ASSERT_EQ(::mkfifo((source.path() / "Mail/Odd/pipe.eml").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", source.path() / "Mail/Odd/zero.eml");

  // A run that hangs would hold up the whole suite; a child process is
  // given a deadline instead.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(20);
    const TreeConversion result = ConvertTree(source.path(), destination.path());
    const auto failures = Failures(result.report);
    const bool expected = result.report.converted == 1 && failures.size() == 2 &&
                          failures.count("pipe.eml") == 1 && failures.count("zero.eml") == 1 &&
                          CheckMailboxes(destination.path(), result.queue, &result.report).empty();
    _exit(expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the run hung or crashed (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "not exactly the pipe and the device failed";
}
#endif

// The mirror of the source below a destination inside it (the source's own
// root included) would write mailboxes into the export: refused, nothing
// written. A destination beside the source is fine.
TEST_F(BadInput, DestinationWhoseMirrorLandsInsideTheSource) {
  Write("Mail/Inbox/a.eml", "From: ann@example.org\r\nSubject: a\r\n\r\nbody\r\n");
  for (const fs::path& inside : {source.path() / "Converted", source.path().root_path()}) {
    SCOPED_TRACE(inside);
    const TreeConversion refused = ConvertTree(source.path(), inside);
    EXPECT_EQ(refused.report.ending, Ending::Refused);
    EXPECT_EQ(refused.report.refusal, Refusal::InsideSource);
    EXPECT_NE(refused.report.reason.find("inside the folder being converted"), std::string::npos)
        << refused.report.reason;
  }
  EXPECT_EQ(WalkQueue(source.path()).size(), 1u);
  EXPECT_EQ(ConvertChecked(destination.path()).report.converted, 1);
}

// A file that disappears between the walk and its conversion fails by
// itself, and the others of its folder still convert.
TEST_F(BadInput, FileThatVanishesAfterTheWalkFailsByItself) {
  const std::string message = "From: ann@example.org\r\n\r\nbody\r\n";
  Write("Mail/A/1.eml", message);
  Write("Mail/A/2.eml", message);
  Write("Mail/A/3.eml", message);
  Write("Mail/B/4.eml", message);

  FolderWalker walker;
  walker.Walk(source.str());
  ConversionRequest request;
  request.source = source.str();
  request.destination = destination.str();
  request.scanned = walker.queue();
  fs::remove(source.path() / "Mail/A/2.eml");
  ConversionSink sink;
  const ConversionReport report = Convert(request, {}, sink);

  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(PathOf(report.failures[0].file).filename(), "2.eml");
  // The system's own words: POSIX's, Windows' or Wine's.
  EXPECT_THAT(report.failures[0].reason,
              ::testing::AnyOf(::testing::HasSubstr("No such file"),
                               ::testing::HasSubstr("cannot find the file"),
                               ::testing::HasSubstr("File not found")));
  EXPECT_EQ(report.converted, 3);
  const std::vector<std::string> queue(request.scanned->begin(), request.scanned->end());
  EXPECT_EQ(Joined(CheckMailboxes(destination.path(), queue, &report)), "");
}

}  // namespace
}  // namespace quillfen::test
