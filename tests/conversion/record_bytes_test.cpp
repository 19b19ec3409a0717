#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <string>

#include "destination/mirror_paths.h"
#include "mbox/envelope_line.h"
#include "mbox/from_line.h"
#include "mbox/mbox_quoting.h"
#include "os/fault_injection.h"
#include "tests/support/convert_bytes.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

// The record written for a message of these bytes into a fresh mailbox,
// the text reaching the converter in pieces of pieceSize bytes (0: whole),
// without its From line: the line end after it, the text, the line end.
std::string RecordAfterFromLine(const std::string& text, std::size_t pieceSize = 0) {
  test::TempDir dir;
  const test::BytesOutcome outcome =
      test::ConvertBytes(dir.str(), test::RootedPath("x/Inbox/1.eml"), text, 1372636800, pieceSize);
  EXPECT_EQ(outcome.kind, MessageOutcome::Kind::Converted) << outcome.reason;
  const std::string written = test::ReadFile(test::PathOf(outcome.mailbox));
  return written.substr(written.find("\r\n"));
}

TEST(FromLine, EnglishNamesZeroPaddedFieldsWhateverTheLocale) {
  // The names must not follow the user's locale; try a few that may exist.
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) std::setlocale(LC_ALL, name);
  EXPECT_EQ(FormatFromLine("a@b.org", {2013, 7, 1, 0, 5, 9}),
            "From a@b.org Mon Jul 01 00:05:09 2013");
  EXPECT_EQ(FormatFromLine("a@b.org", {2013, 3, 5, 21, 30, 0}),
            "From a@b.org Tue Mar 05 21:30:00 2013");
  EXPECT_EQ(FormatFromLine("x", {2000, 2, 29, 23, 59, 59}), "From x Tue Feb 29 23:59:59 2000");
  EXPECT_EQ(FormatFromLine("x", {1999, 12, 26, 12, 0, 0}), "From x Sun Dec 26 12:00:00 1999");
  EXPECT_EQ(FormatFromLine("", {2013, 7, 1, 0, 5, 9}), "From  Mon Jul 01 00:05:09 2013");
  std::setlocale(LC_ALL, "C");
}

TEST(RecordBytes, FromLineCrLfTextCrLf) {
  EXPECT_EQ(RecordAfterFromLine("Subject: x\n\nbody"), "\r\nSubject: x\n\nbody\r\n");
  EXPECT_EQ(RecordAfterFromLine("Subject: x\r\n\r\nbody\r\n"),
            "\r\nSubject: x\r\n\r\nbody\r\n\r\n");
  EXPECT_EQ(RecordAfterFromLine(""), "\r\n\r\n");
}

TEST(RecordBytes, QuotesFromLinesAndDropsAnEnvelopeLine) {
  struct Case {
    const char* text;
    const char* written;
  };
  const Case cases[] = {
      {"From: Ann <a@b>\n\nFrom here on\n>From there\n>>From x\nFrom\nFromage\n",
       "From: Ann <a@b>\n\n>From here on\n>>From there\n>>>From x\nFrom\nFromage\n"},
      {"S: x\r\n\r\nFrom a\r\n> From b\r\nnot From c\r\n>From ",
       "S: x\r\n\r\n>From a\r\n> From b\r\nnot From c\r\n>>From "},
      // The first line is an old envelope line: left out, not quoted.
      {"From someone Sat Jan  1 00:00:00 2000\nS: x\n\nFrom body\n", "S: x\n\n>From body\n"},
      {"From someone Sat Jan  1 00:00:00 2000\r\nS: x\r\n\r\n", "S: x\r\n\r\n"},
      // A first line that begins with "From " but is no envelope line is
      // part of the message, even as its only line.
      {"From only an envelope line", ">From only an envelope line"},
      // A quoted first line is a body line like any other.
      {">From x\n", ">>From x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // Whole, and in pieces cut inside the lines that need a decision.
    for (const std::size_t piece : {0, 1, 3, 7}) {
      EXPECT_EQ(RecordAfterFromLine(c.text, piece), "\r\n" + std::string(c.written) + "\r\n");
    }
    // And where the text lies, as the reading thread quotes a message it
    // holds.
    std::string text = c.text;
    text.erase(0, EnvelopeLineLength(text));
    const std::size_t size = text.size();
    text.resize(size + 8, '?');
    const std::size_t quoted = QuoteInPlace(text.data(), size, 8);
    ASSERT_NE(quoted, SIZE_MAX);
    EXPECT_EQ(text.substr(0, quoted), c.written);
  }
  // A quoting that needs more room than there is leaves the text as it was.
  std::string text = "From a\nFrom b\n>From c\n";
  EXPECT_EQ(QuoteInPlace(text.data(), text.size(), 2), SIZE_MAX);
  EXPECT_EQ(text, "From a\nFrom b\n>From c\n");
}

TEST(MailboxFile, FailedWriteCutsTheMailboxBackAndLaterAppendsWork) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "x" / "Inbox");
  const std::filesystem::path mbox = dir.path() / "x" / "Inbox" / "Inbox.mbox";
  const std::string message = test::RootedPath("x/Inbox/2.eml");
  const std::string first = "From a Mon Jul 01 00:05:09 2013\r\nSubject: 1\r\n\r\nfirst\r\n";
  test::WriteFile(mbox, first);
  // Larger than one piece, so the record takes several writes.
  const std::string big = "Subject: 2\r\n\r\n" + std::string(3 * 1024 * 1024, 'b');
  {
    // Part of the record fits before the disk is full, so the file really
    // grows before the write fails.
    const os::ScopedFaults full({.pathPart = ".mbox", .bytesBeforeFullDisk = 1024 * 1024 + 5000});
    const test::BytesOutcome outcome = test::ConvertBytes(dir.str(), message, big);
    EXPECT_EQ(outcome.kind, MessageOutcome::Kind::Failed);
    EXPECT_EQ(outcome.reason, "cannot write the mailbox: No space left on device");
  }
  EXPECT_EQ(test::ReadFile(mbox), first);

  EXPECT_EQ(test::ConvertBytes(dir.str(), message, big).kind, MessageOutcome::Kind::Converted);
  const auto records = test::ReadMbox(mbox);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].text, big);
}

}  // namespace
}  // namespace quillfen
