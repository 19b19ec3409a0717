#include "destination/mailbox_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mbox/message_failure.h"
#include "os/fault_injection.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

// A record of exactly size bytes for message index, its number readable in
// the file.
std::string Record(int index, std::size_t size) {
  std::string record = "From r" + std::to_string(index) + "\r\n";
  record.resize(size - 2, static_cast<char>('a' + index));
  return record + "\r\n";
}

void AddRecord(MailboxFile& mailbox, int index, const std::string& record) {
  mailbox.OpenRecord(record.size()) += record;
  mailbox.CloseRecord(index, std::to_string(index) + ".eml", {});
}

TEST(MailboxFile, WritesEveryByteAsGivenBatchedAndStreamed) {
  test::TempDir dir;
  const std::string path = dir.str() + "Inbox.mbox";
  // Another program's text, ending in the middle of a line.
  test::WriteFile(path, "old\r\ntail");
  // Bare LF, CR LF and a lone CR must reach the disk as they are: a write
  // in text mode turns every "\n" into "\r\n" on Windows.
  const std::string first = "From a\r\nSubject: 1\n\nbare\nand\r\ncr\r\r\n";
  const std::string streamed[] = {"From b\r\nSubject: 2\r\n\r\n", "x\ny\r\n", "z\r\n"};
  const std::string third = "From c\r\n\n";
  {
    MailboxFile mailbox(dir.str(), "Inbox.mbox");
    EXPECT_TRUE(mailbox.existed());
    EXPECT_EQ(mailbox.length(), 9);
    AddRecord(mailbox, 0, first);
    // A record taken back leaves nothing behind, not even its line end.
    mailbox.OpenRecord(10) += "dropped";
    mailbox.DropRecord();
    const std::int64_t start = mailbox.BeginRecord();
    for (const std::string& piece : streamed) mailbox.Write(piece, start);
    mailbox.EndRecord({});
    AddRecord(mailbox, 2, third);
    EXPECT_EQ(mailbox.Close(), "");
    EXPECT_TRUE(mailbox.TakeLost().empty());
  }
  const std::string expected =
      "old\r\ntail\r\n" + first + streamed[0] + streamed[1] + streamed[2] + third;
  EXPECT_EQ(test::ReadFile(path), expected);

  // Opened again, it knows its length and that it ends with a line end.
  MailboxFile again(dir.str(), "Inbox.mbox");
  EXPECT_EQ(again.length(), static_cast<std::int64_t>(expected.size()));
  AddRecord(again, 3, "From d\r\n\r\n");
  EXPECT_EQ(again.Close(), "");
  EXPECT_EQ(test::ReadFile(path), expected + "From d\r\n\r\n");
}

TEST(MailboxFile, FullDiskKeepsTheWholeRecordsThatGotInAndReportsTheOthers) {
  test::TempDir dir;
  const std::string path = dir.str() + "Inbox.mbox";
  test::WriteFile(path, Record(9, 50));
  MailboxFile mailbox(dir.str(), "Inbox.mbox");
  for (int index = 0; index < 4; ++index) AddRecord(mailbox, index, Record(index, 100));
  {
    // The disk fills in the middle of the third record.
    os::ScopedFaults faults({.pathPart = ".mbox", .bytesBeforeFullDisk = 250});
    mailbox.Flush();
  }
  EXPECT_EQ(test::ReadFile(path), Record(9, 50) + Record(0, 100) + Record(1, 100));
  EXPECT_EQ(mailbox.length(), 250);
  const std::vector<MailboxFile::LostRecord> lost = mailbox.TakeLost();
  ASSERT_EQ(lost.size(), 2u);
  EXPECT_EQ(lost[0].index, 2);
  EXPECT_EQ(lost[0].file, "2.eml");
  EXPECT_EQ(lost[1].index, 3);
  for (const MailboxFile::LostRecord& record : lost)
    EXPECT_EQ(record.reason, "cannot write the mailbox: No space left on device");

  AddRecord(mailbox, 4, Record(4, 100));
  EXPECT_EQ(mailbox.Close(), "");
  EXPECT_EQ(test::ReadFile(path), Record(9, 50) + Record(0, 100) + Record(1, 100) + Record(4, 100));
}

TEST(MailboxFile, ACutBackThatFailedIsMadeBeforeTheNextRecord) {
  test::TempDir dir;
  const std::string path = dir.str() + "Inbox.mbox";
  const std::string owed =
      "an earlier record could not be removed from the mailbox; the mailbox could not be cut "
      "back: Input/output error";
  MailboxFile mailbox(dir.str(), "Inbox.mbox");
  AddRecord(mailbox, 0, Record(0, 100));
  AddRecord(mailbox, 1, Record(1, 100));
  {
    os::ScopedFaults faults({.pathPart = ".mbox", .bytesBeforeFullDisk = 150, .failCutBack = true});
    mailbox.Flush();
    const std::vector<MailboxFile::LostRecord> lost = mailbox.TakeLost();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].reason,
              "cannot write the mailbox: No space left on device; the mailbox could not be cut "
              "back: Input/output error");
    // The torn record is still there, so nothing may follow it.
    EXPECT_EQ(test::ReadFile(path).size(), 150u);
    try {
      mailbox.OpenRecord(100);
      ADD_FAILURE() << "a record was opened after a torn one";
    } catch (const MessageFailure& failure) {
      EXPECT_EQ(std::string(failure.what()), owed);
    }
  }
  // The next record makes the cut-back first.
  AddRecord(mailbox, 2, Record(2, 100));
  mailbox.Flush();
  EXPECT_EQ(test::ReadFile(path), Record(0, 100) + Record(2, 100));

  // The same for a large record written in pieces.
  const std::int64_t start = mailbox.BeginRecord();
  {
    os::ScopedFaults faults({.pathPart = ".mbox", .bytesBeforeFullDisk = 10, .failCutBack = true});
    try {
      mailbox.Write(std::string(1000, 'x'), start);
      ADD_FAILURE() << "a write past the full disk went through";
    } catch (const MessageFailure& failure) {
      EXPECT_EQ(std::string(failure.what()),
                "cannot write the mailbox: No space left on device; the mailbox could not be cut "
                "back: Input/output error");
    }
    EXPECT_THROW(mailbox.BeginRecord(), MessageFailure);
  }
  EXPECT_EQ(mailbox.BeginRecord(), start);
  mailbox.Write(Record(3, 100), start);
  mailbox.EndRecord({});
  EXPECT_EQ(mailbox.Close(), "");
  EXPECT_EQ(test::ReadFile(path), Record(0, 100) + Record(2, 100) + Record(3, 100));
}

TEST(MailboxFile, AFailedCloseIsReportedAndTheBatchIsWrittenFirst) {
  test::TempDir dir;
  const std::string path = dir.str() + "Inbox.mbox";
  MailboxFile mailbox(dir.str(), "Inbox.mbox");
  AddRecord(mailbox, 0, Record(0, 100));
  {
    os::ScopedFaults faults({.pathPart = ".mbox", .failClose = true});
    EXPECT_EQ(mailbox.Close(), "cannot close the mailbox: Input/output error");
  }
  EXPECT_EQ(test::ReadFile(path), Record(0, 100));
  // Closed all the same: closing again reports nothing more.
  EXPECT_EQ(mailbox.Close(), "");
}

}  // namespace
}  // namespace quillfen
