// Input that a careless reader of an export would mangle: "From " lines
// that are no envelope lines, folder names as long as a file name may be,
// dates no mbox reader takes, and names holding control characters.

#include <gtest/gtest.h>

#include <string>

#include "conversion/report_text.h"
#include "destination/mirror_paths.h"
#include "mbox/envelope_line.h"
#include "mbox/from_line.h"
#include "tests/support/convert_bytes.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

constexpr char kSeparator = PathStyle::Native().separator;

// The one record written for a message of these bytes.
std::string StoredRecord(const std::string& bytes, long long fallbackTime = 1372636800) {
  test::TempDir dir;
  const test::BytesOutcome outcome =
      test::ConvertBytes(dir.str(), test::RootedPath("x/Inbox/1.eml"), bytes, fallbackTime);
  EXPECT_EQ(outcome.kind, MessageOutcome::Kind::Converted) << outcome.reason;
  return test::ReadFile(test::PathOf(outcome.mailbox));
}

// Its text, without the From line and the record's last line end.
std::string StoredText(const std::string& bytes) {
  const std::string written = StoredRecord(bytes);
  const std::size_t start = written.find("\r\n") + 2;
  return written.substr(start, written.size() - start - 2);
}

std::string FromLineOf(const std::string& bytes, long long fallbackTime) {
  const std::string written = StoredRecord(bytes, fallbackTime);
  return written.substr(0, written.find("\r\n"));
}

TEST(HostileInput, OnlyARealEnvelopeLineIsLeftOut) {
  // Envelope lines as mbox writers wrote them: left out of the record.
  for (const char* line : {
           "From a@b.org Tue Mar  5 14:07:09 2013\n",
           "From a@b.org Tue Mar 05 14:07:09 2013\r\n",
           "From - Tue Mar 5 4:07 2013\n",
           "From MAILER-DAEMON  Thu Jan  1 00:00:00 1970\n",
           "From a@b.org Tue Mar  5 14:07:09 +0000 2013\n",
           "From a@b.org Tue Mar  5 14:07:09 PST 2013\n",
           "From a@b.org Tue Mar  5 14:07:09 CET DST 2013\n",
           "From a@b.org Tue Mar  5 14:07:09 2013 +0100\n",
           "From a@b.org Tue Mar  5 14:07:09 2013 UTC\n",
       }) {
    SCOPED_TRACE(line);
    const std::string text = std::string(line) + "Subject: x\n\nFrom body\n";
    EXPECT_EQ(EnvelopeLineLength(text), std::string(line).size());
    EXPECT_EQ(StoredText(text), "Subject: x\n\n>From body\n");
  }
  // Anything else that begins with "From " stays, quoted like a body line.
  for (const char* kept : {
           "From Alice: hi",
           "From a@b.org Tue Mar  5 14:07:09 2013",  // no line feed at all
           "From a@b.org Tue Mar  5 14:07:09 2013\rSubject: x\r\rbody\r",
           "From a@b.org Tue Mar  5 14:07:09 2013\rSubject: x\r\n\r\nbody\r\n",
           "From Alice: see you Tue Mar  5 14:07:09 2013\n",
           "From a@b.org Tue Mar  5 14:07:09 13\n",
           "From a@b.org Tue Mar 32 14:07:09 2013\n",
           "From a@b.org Tue Mar  5 24:07:09 2013\n",
           "From a@b.org Tue Mar  5 14:07:09 2013 remote from b\n",
           "From a@b.org tue mar  5 14:07:09 2013\n",
           "From  Tue Mar  5 14:07:09 2013\n",
           "From a\x01@b.org Tue Mar  5 14:07:09 2013\n",
       }) {
    SCOPED_TRACE(kept);
    EXPECT_EQ(EnvelopeLineLength(kept), 0u);
    EXPECT_EQ(StoredText(kept), ">" + std::string(kept));
  }
}

TEST(HostileInput, FolderNamesUpToTheFileNameLimitGetAMailbox) {
  test::TempDir dir;
  // "é" is two bytes; in the 255-byte name the cut at 250 bytes would fall
  // inside one, so the mailbox name ends before it.
  const std::string names[] = {std::string(250, 'a'), std::string(251, 'b'),
                               std::string(249, 'c') +
                                   "\xC3\xA9\xC3\xA9\xC3"
                                   "\xA9"};
  const std::string stems[] = {names[0], std::string(250, 'b'), std::string(249, 'c')};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const std::string folder = dir.str() + "x" + kSeparator + names[i] + kSeparator;
    const test::BytesOutcome outcome = test::ConvertBytes(
        dir.str(), test::RootedPath("x/" + names[i] + "/1.eml"), "Subject: x\n\nbody\n");
    EXPECT_EQ(outcome.kind, MessageOutcome::Kind::Converted) << outcome.reason;
    EXPECT_EQ(outcome.mailbox, folder + stems[i] + ".mbox");
    EXPECT_EQ(test::ReadMbox(test::PathOf(outcome.mailbox)).size(), 1u);
  }
}

TEST(HostileInput, FromLineYearsAlwaysHaveFourDigits) {
  // No Date header: the entry's time stands in, 31,700 years either way.
  for (const long long seconds : {1000000000000LL, -1000000000000LL}) {
    SCOPED_TRACE(seconds);
    EXPECT_EQ(FromLineOf("Subject: x\n\nbody\n", seconds),
              seconds > 0 ? "From MAILER-DAEMON Fri Dec 31 23:59:59 9999"
                          : "From MAILER-DAEMON Thu Jan 01 00:00:00 1970");
  }
  EXPECT_EQ(FromLineOf("From: a@b.org\nDate: Mon, 1 Jan 1900 10:00:00 +0000\n\nbody\n", 0),
            "From a@b.org Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(FormatFromLine("x", {1970, 1, 1, 0, 0, 0}), "From x Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(FormatFromLine("x", {9999, 12, 31, 23, 59, 59}), "From x Fri Dec 31 23:59:59 9999");
}

TEST(HostileInput, ReportTextKeepsOneMessageOnOneLine) {
  EXPECT_EQ(EscapedForReport("Inbox/0000000001-Re_ a\nNot converted: b\r\t\x01\x1F\x7F.eml"),
            "Inbox/0000000001-Re_ a\\nNot converted: b\\r\\t\\x01\\x1F\\x7F.eml");
  EXPECT_EQ(EscapedForReport("B\xC3\xB6rje \\n \xE2\x82\xAC \xFF~"),
            "B\xC3\xB6rje \\n \xE2\x82\xAC \xFF~");
  EXPECT_EQ(EscapedForReport(std::string_view("a\0b", 3)), "a\\x00b");
}

}  // namespace
}  // namespace quillfen
