#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "mbox/message_failure.h"
#include "os/local_time.h"
#include "source/message_readers.h"

namespace quillfen {
namespace {

struct Answers {
  MessageDateTime date;
  std::string sender;
};

Answers Read(std::string_view bytes, long long fallbackTime = 0) {
  MessageReader reader;
  EXPECT_TRUE(reader.OpenMessageBytes(bytes, fallbackTime));
  return {reader.MessageDate(), reader.SenderAddress()};
}

void ExpectDate(const MessageDateTime& d, int y, int mo, int day, int h, int mi, int s) {
  EXPECT_EQ(d.year, y);
  EXPECT_EQ(d.month, mo);
  EXPECT_EQ(d.day, day);
  EXPECT_EQ(d.hour, h);
  EXPECT_EQ(d.minute, mi);
  EXPECT_EQ(d.second, s);
}

TEST(MessageReader, SenderFallsBackFromReturnPathToFromToSender) {
  struct Case {
    const char* headers;
    const char* sender;
  };
  const Case cases[] = {
      {"Return-Path: <bounce@a.org>\nFrom: Ann <ann@a.org>\n", "bounce@a.org"},
      {"Return-Path: <>\nFrom: \"Ann Smith\" <ann@a.org>\n", "ann@a.org"},
      {"From: Ann <ann@a.org>, bob@b.org\nSender: list@l.org\n", "ann@a.org"},
      {"From: Team: ann@a.org, bob@b.org;\n", "ann@a.org"},
      {"From: undisclosed-recipients:;\nSender: list@l.org\n", "list@l.org"},
      {"Subject: nobody\n", "MAILER-DAEMON"},
      {"Return-Path: <>\nFrom: \nSender: <>\n", "MAILER-DAEMON"},
      // Line breaks, a bare CR, TAB and 8-bit bytes never reach the From line.
      {"Return-Path: <\"a\rb\"@x.org>\n", "\"ab\"@x.org"},
      {"From: \"c\td e\"@x.org\n", "\"cde\"@x.org"},
      {"From: =?utf-8?q?A=0D=0AFrom_x?= <ann@a.org>\n", "ann@a.org"},
      {"From: J\xF6rg <j\xF6rg@x.org>\n", "j\xC3\xB6rg@x.org"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    const std::string sender = Read(std::string(c.headers) + "\nbody\n").sender;
    EXPECT_EQ(sender, c.sender);
    for (const unsigned char ch : sender) EXPECT_GT(ch, 0x20);
  }
}

// The reader keeps its answers for recently seen header values; each
// message must still get the answer for its own value, also once more
// distinct values have passed than are kept.
TEST(MessageReader, RepeatedAndManyDistinctValuesEachGetTheirOwnAnswer) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 30000; i += 7) {
      const std::string n = std::to_string(i);
      const Answers answers = Read("From: User " + n + " <user" + n + "@example.org>\n\nbody\n");
      ASSERT_EQ(answers.sender, "user" + n + "@example.org");
    }
  }
  EXPECT_EQ(Read("From: <a@example.org>\n\n").sender, "a@example.org");
  EXPECT_EQ(Read("From: <b@example.org>\n\n").sender, "b@example.org");
  EXPECT_EQ(Read("From: <a@example.org>\n\n").sender, "a@example.org");
}

TEST(MessageReader, DateInTheMessagesOwnZoneThenReceivedThenFallback) {
  ExpectDate(Read("Date: Mon, 1 Jul 2013 00:05:09 +0930\n\n").date, 2013, 7, 1, 0, 5, 9);
  // The topmost Received header is the newest; its date follows the last ";".
  ExpectDate(Read("Received: from a (x; y) by b; Tue, 5 Mar 2013 14:07:09 -0500\n"
                  "Received: from c by a; Mon, 4 Mar 2013 10:00:00 -0500\n\n")
                 .date,
             2013, 3, 5, 14, 7, 9);
  ExpectDate(Read("Date: not a date\nReceived: by b;\n Sun, 21 Apr 2019 21:30:00 +0000\n\n").date,
             2019, 4, 21, 21, 30, 0);
  // Field names in any case, folded values, a stray line without a colon, and
  // the first of two Date fields.
  ExpectDate(Read("date :\r\n Fri, 3 May 2019\r\n 08:09:10 +0000\r\nDATE: Sat, 4 May 2019 "
                  "01:01:01 +0000\r\n\r\n")
                 .date,
             2019, 5, 3, 8, 9, 10);
  EXPECT_EQ(
      Read("junk line\nfrom: a@b.org\ncontent-type: text/plain;\n\tcharset=koi8-r\n\n").sender,
      "a@b.org");

  const std::time_t fallback = 1372636800;  // 2013-07-01 00:00:00 UTC
  const std::tm local = os::LocalTime(fallback).value();
  const MessageDateTime d = Read("Subject: undated\n\n", fallback).date;
  ExpectDate(d, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
             local.tm_sec);
}

TEST(MessageReader, ReadsOnlyTheHeaderBlockAfterAnEnvelopeLine) {
  // An old envelope line is skipped; a "Date:" in the body is not a header;
  // a header block far longer than a read still yields its later fields.
  const Answers answers = Read(
      "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\r\n"
      "X-Pad: " +
          std::string(30000, 'a') +
          "\r\nReturn-Path: <ret@a.org>\r\n\r\n"
          "Date: Mon, 1 Jul 2013 00:05:09 +0000\r\n",
      1000000000);
  EXPECT_EQ(answers.sender, "ret@a.org");
  const std::time_t mtime = 1000000000;
  const std::tm local = os::LocalTime(mtime).value();
  ExpectDate(answers.date, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
             local.tm_min, local.tm_sec);
}

}  // namespace
}  // namespace quillfen
