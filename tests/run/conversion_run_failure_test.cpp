#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/run/run_fixture.h"

namespace quillfen::test {
namespace {

TEST_F(RunTest, FailedMessageIsReportedAndLaterOnesOfItsFolderStillArrive) {
  const std::string first = WriteMessage("Inbox/1.eml", "one");
  const std::string missing = source.str() + "Inbox/2.eml";
  const std::string folderNamedLikeMessage = source.str() + "Inbox/3.eml";
  std::filesystem::create_directories(folderNamedLikeMessage);
  const std::string last = WriteMessage("Inbox/4.eml", "four");
  host.SetQueue({first, missing, folderNamedLikeMessage, last, source.str() + "notes.txt"});

  const RunReport report = Run();

  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"one", "four"}));
  EXPECT_EQ(report.messages, 4);
  EXPECT_EQ(report.converted, 2);
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0].file, missing);
  EXPECT_EQ(report.failures[1].file, folderNamedLikeMessage);
  EXPECT_FALSE(report.failures[0].reason.empty());
  EXPECT_FALSE(report.failures[1].reason.empty());

  // Progress went on for every item, the failed ones included.
  EXPECT_EQ(host.progressCaptions.back(), "Message 5 (of 5)");
  EXPECT_EQ(host.barValues.back(), 100.0f);

  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
  EXPECT_EQ(host.messages[0].title, "Quillfen");
  EXPECT_EQ(host.messages[0].text, "2 of 4 messages could not be converted.");
  EXPECT_EQ(host.messages[0].details, missing + ": " + report.failures[0].reason + "\n" +
                                          folderNamedLikeMessage + ": " +
                                          report.failures[1].reason);
}

// The run makes sure of a folder's mirror once for its run of messages; a
// mirror folder removed while the run goes on (by the user, during a yield)
// must still be made again for the next message of that folder.
TEST_F(RunTest, MirrorFolderRemovedDuringTheRunIsMadeAgain) {
  const std::string first = WriteMessage("Inbox/1.eml", "one");
  const std::string second = WriteMessage("Inbox/2.eml", "two");
  const std::string third = WriteMessage("Inbox/3.eml", "three");
  host.SetQueue({first, second, third});
  const std::filesystem::path mirror = MailboxFor("Inbox").parent_path();
  bool removed = false;
  host.onYield = [&](int) {
    if (!removed && host.progressCaptions.size() == 1) {
      std::filesystem::remove_all(mirror);
      removed = true;
    }
  };

  const RunReport report = Run();

  EXPECT_TRUE(removed);
  // The record that went with the removed folder is reported lost; the
  // later ones arrive in the folder made again.
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures[0].file, MailboxFor("Inbox").string());
  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"two", "three"}));
}

TEST_F(RunTest, MessageWithoutDerivableMailboxFailsAloneInsteadOfJoiningThePrevious) {
  // The doubled separator is a real path to the same file, but the folder it
  // names has no last name to call a mailbox after.
  const std::string first = WriteMessage("Inbox/1.eml", "one");
  WriteMessage("Sent/2.eml", "two");
  const std::string nameless = source.str() + "Sent//2.eml";
  // A name without any folder has no mirror folder at all.
  const std::string folderless = "3.eml";
  host.SetQueue({first, nameless, folderless});

  const RunReport report = Run();

  EXPECT_EQ(Tags(MailboxFor("Inbox")), std::vector<std::string>{"one"});
  EXPECT_EQ(report.mailboxes, std::vector<std::string>{MailboxFor("Inbox").string()});
  EXPECT_EQ(report.converted, 1);
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0].file, nameless);
  EXPECT_EQ(report.failures[1].file, folderless);
  EXPECT_EQ(host.messages.at(0).icon, MessageIcon::Warning);
  EXPECT_EQ(host.messages.at(0).text, "2 of 3 messages could not be converted.");
  EXPECT_EQ(host.progressCaptions.back(), "Message 3 (of 3)");
}

TEST_F(RunTest, MessageIsReadByItsExactNameTrailingSpacesIncluded) {
  // Two files whose names differ only by a trailing space: the queued one,
  // with the space, is the one that must be converted.
  const std::string spaced = WriteMessage("Inbox/1.eml ", "with space");
  WriteMessage("Inbox/1.eml", "without space");
  // And one whose trimmed twin does not exist at all.
  const std::string alone = WriteMessage("Inbox/2.eml  ", "alone");
  host.SetQueue({spaced, alone});

  const RunReport report = Run();

  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"with space", "alone"}));
}

TEST_F(RunTest, FailureThrownByTheHostsOwnYieldLeavesTheRun) {
  // The host stops the run from a yield between two messages; this is not a
  // failure of a message and must not be swallowed as one. The next run
  // resumes, once asked, and every message arrives once.
  host.SetQueue({WriteMessage("Inbox/1.eml", "one"), WriteMessage("Inbox/2.eml", "two")});
  host.onYield = [this](int) {
    if (host.progressCaptions.size() == 1) throw std::runtime_error("window closed");
  };

  EXPECT_THROW(Run(), std::runtime_error);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"one"}));

  host.onYield = nullptr;
  host.answers = {true};
  const RunReport resumed = Run();
  ASSERT_EQ(host.questions.size(), 1u);
  EXPECT_NE(host.questions[0].find("interrupted"), std::string::npos);
  EXPECT_EQ(resumed.alreadyConverted, 1);
  EXPECT_EQ(resumed.converted, 2);
  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace quillfen::test
