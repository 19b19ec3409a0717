#include "convert/destination_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "convert/path_helpers.h"
#include "os/fault_injection.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

std::string Record(int index) {
  return "From r" + std::to_string(index) + "\r\nSubject: " + std::to_string(index) + "\r\n\r\n";
}

void Convert(DestinationJournal& journal, const std::string& mailboxPath, int index) {
  MailboxFile& mailbox = journal.Mailbox(mailboxPath);
  mailbox.OpenRecord(Record(index).size()) += Record(index);
  mailbox.CloseRecord(index, std::to_string(index) + ".eml");
  journal.Converted(index, mailboxPath);
  journal.Settled(index);
}

// The journal's whole life without a kill: the lock, a stop after a mark, a
// resumed run that cuts back what came after the mark, and a finish whose
// mailbox cannot be closed.
TEST(DestinationJournal, ResumesFromItsLastMarkAndReportsAFailedClose) {
  test::TempDir dir;
  const std::string root = dir.str() + "out";
  const char separator = PathStyle::Native().separator;
  const std::string mailbox = root + separator + "Inbox" + separator + "Inbox.mbox";
  const SourceIdentity source{"source", 42, 5};
  ASSERT_TRUE(EnsureDirectory(root + separator + "Inbox"));
  {
    DestinationJournal journal(root, source);
    EXPECT_EQ(journal.earlier(), EarlierConversion::None);
    EXPECT_THROW((DestinationJournal{root, source}), DestinationBusy);
    journal.Begin(false);
    for (int index = 0; index < 3; ++index) Convert(journal, mailbox, index);
    journal.Stop();
    // Written after the mark: a resumed run does it again.
    Convert(journal, mailbox, 3);
    journal.Mailbox(mailbox).Flush();
  }
  EXPECT_EQ(test::ReadFile(mailbox), Record(0) + Record(1) + Record(2) + Record(3));
  {
    DestinationJournal journal(root, source);
    EXPECT_EQ(journal.earlier(), EarlierConversion::Interrupted);
    EXPECT_EQ(journal.alreadyConverted(), 3);
    journal.Begin(true);
    EXPECT_EQ(test::ReadFile(mailbox), Record(0) + Record(1) + Record(2));
    EXPECT_FALSE(journal.Needed(2, mailbox));
    EXPECT_TRUE(journal.Needed(3, mailbox));
    Convert(journal, mailbox, 3);
    Convert(journal, mailbox, 4);
    const os::ScopedFaults faults({.pathPart = ".mbox", .failClose = true});
    const std::vector<std::pair<std::string, std::string>> failures = journal.Finish();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].first, mailbox);
    EXPECT_EQ(failures[0].second, "cannot close the mailbox: Input/output error");
    EXPECT_EQ(journal.RecordCount(), 5);
  }
  EXPECT_EQ(test::ReadFile(mailbox), Record(0) + Record(1) + Record(2) + Record(3) + Record(4));
  EXPECT_EQ(DestinationJournal(root, source).earlier(), EarlierConversion::Finished);
}

// A new conversion over an interrupted one of another source first cuts the
// old one's mailboxes back to their last mark, so that no torn record stays;
// when that fails, nothing begins.
TEST(DestinationJournal, ANewConversionBeginsOnlyWhenTheOldOneIsCutBack) {
  test::TempDir dir;
  const std::string root = dir.str() + "out";
  const char separator = PathStyle::Native().separator;
  const std::string mailbox = root + separator + "Inbox" + separator + "Inbox.mbox";
  ASSERT_TRUE(EnsureDirectory(root + separator + "Inbox"));
  {
    DestinationJournal journal(root, SourceIdentity{"first", 1, 2});
    journal.Begin(false);
    Convert(journal, mailbox, 0);
    journal.Stop();
    // A record torn by a kill after the mark.
    journal.Mailbox(mailbox).OpenRecord(4) += "From";
    journal.Mailbox(mailbox).CloseRecord(1, "1.eml");
    journal.Mailbox(mailbox).Flush();
  }
  ASSERT_EQ(test::ReadFile(mailbox), Record(0) + "From");
  const SourceIdentity second{"second", 2, 1};
  {
    DestinationJournal journal(root, second);
    const os::ScopedFaults faults({.pathPart = ".mbox", .failCutBack = true});
    EXPECT_THROW(journal.Begin(false), DestinationError);
  }
  EXPECT_EQ(test::ReadFile(mailbox), Record(0) + "From");
  DestinationJournal journal(root, second);
  journal.Begin(false);
  EXPECT_EQ(test::ReadFile(mailbox), Record(0));
}

}  // namespace
}  // namespace quillfen
