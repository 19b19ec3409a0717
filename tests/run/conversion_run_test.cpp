#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/destination_journal.h"
#include "tests/run/run_fixture.h"

namespace quillfen::test {
namespace {

const std::string kDoneText =
    "Your data has been successfully exported to .mbox format (Compatible for Mac Mail).\r\n"
    "Move converted folders to Mac and import it into Apple Mac Mail by using the import option "
    "from File Menu.";

bool FolderIsEmpty(const std::filesystem::path& folder) {
  return std::filesystem::directory_iterator(folder) == std::filesystem::directory_iterator();
}

TEST_F(RunTest, MakesEveryCallInOrderWithItsTexts) {
  const std::string message = WriteMessage("Inbox/1.eml", "one");
  WriteFile(source.str() + "Inbox/1.eml.meta", "meta");
  host.SetQueue({message, source.str() + "Inbox/1.eml.meta"});
  // The chooser's answer lacks the trailing separator; the run adds it.
  std::string chosen = destination.str();
  chosen.pop_back();
  host.chooserAnswers = {chosen};

  const RunReport report = Run();

  const std::string owner = std::to_string(RecordingHost::kOwner);
  const std::vector<std::string> expected = {
      "Queue",
      "OwnerWindow",
      "BrowseForFolder " + owner + " Choose Folder to Save...",
      "Yield",
      "BarMinimum 0",
      "BarMaximum 100",
      // The message: the start of its item, then its caption.
      "Yield",
      "UpdateCaption Converting Messages... from " + source.str() + "Inbox/",
      "QueueCount",
      "BarValue",
      "ProgressCaption Message 1 (of 2)",
      // The companion file is not a message: only its progress.
      "Yield",
      "QueueCount",
      "BarValue",
      "ProgressCaption Message 2 (of 2)",
      "ShowMessage",
  };
  EXPECT_EQ(host.calls, expected);

  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(host.messages[0].text, kDoneText);
  EXPECT_EQ(host.messages[0].title, "Quillfen");
  EXPECT_EQ(host.messages[0].details, "");

  EXPECT_EQ(Tags(MailboxFor("Inbox")), std::vector<std::string>{"one"});
  EXPECT_FALSE(report.cancelled);
  EXPECT_EQ(report.destinationRoot, destination.str());
  EXPECT_EQ(report.messages, 1);
  EXPECT_EQ(report.converted, 1);
  EXPECT_EQ(report.mailboxes, std::vector<std::string>{MailboxFor("Inbox").string()});
  EXPECT_TRUE(report.failures.empty());
}

TEST_F(RunTest, DestinationWithTrailingSeparatorKeepsASingleOne) {
  host.SetQueue({WriteMessage("Inbox/1.eml", "one")});
  host.chooserAnswers = {destination.str()};

  const RunReport report = Run();

  EXPECT_EQ(report.destinationRoot, destination.str());
  EXPECT_EQ(report.mailboxes, std::vector<std::string>{MailboxFor("Inbox").string()});
  EXPECT_EQ(Tags(MailboxFor("Inbox")), std::vector<std::string>{"one"});
}

TEST_F(RunTest, QueueWithoutMessagesSaysSoWithoutAskingForADestination) {
  // None of these is a message, so none is read: they need not even exist.
  // No queue at all says the same.
  for (const bool withQueue : {true, false}) {
    RecordingHost host;
    if (withQueue)
      host.SetQueue({source.str() + "notes.txt", source.str() + "Contacts/John Doe",
                     source.str() + "Inbox/.1.eml.bak"});
    host.chooserAnswers = {destination.str()};

    const RunReport report = ConversionRun(host, readers, PathStyle::Posix());

    EXPECT_EQ(host.calls, (std::vector<std::string>{"Queue", "ShowMessage"}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(host.messages[0].text, "No messages (.eml files) were found in the chosen folder.");
    EXPECT_EQ(host.messages[0].title, "Quillfen");
    EXPECT_EQ(report.messages, 0);
    EXPECT_EQ(report.converted, 0);
    EXPECT_TRUE(report.mailboxes.empty());
    EXPECT_TRUE(FolderIsEmpty(destination.path()));
  }
}

TEST_F(RunTest, DestinationThatCannotBeTakenIsReportedBeforeAnythingIsWritten) {
  host.SetQueue({WriteMessage("Inbox/1.eml", "one")});
  // A file stands where the destination's folder would have to be made (a
  // folder of mode 555 would not stop a test run by root).
  WriteFile(destination.str() + "blocker", "in the way");
  const std::string unwritable = destination.str() + "blocker/out/";
  // Another conversion holds the lock of the second destination.
  const std::string busy = destination.str() + "busy/";
  const DestinationJournal other(busy, SourceIdentity{});
  host.chooserAnswers = {unwritable, busy};

  for (const std::string& root : {unwritable, busy}) {
    host.calls.clear();
    host.messages.clear();
    const RunReport report = Run();

    EXPECT_TRUE(report.cancelled);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    const std::string& text = host.messages[0].text;
    if (root == unwritable) {
      EXPECT_EQ(text.rfind("Cannot create the destination folder " + unwritable + ": ", 0), 0u)
          << text;
      EXPECT_NE(text.find("Not a directory.\r\n\r\nNothing was converted. Choose a destination "
                          "folder that can be written."),
                std::string::npos)
          << text;
    } else {
      EXPECT_EQ(text, "Another conversion is writing into " + busy +
                          ".\r\n\r\nNothing was converted. Try again when the other conversion "
                          "has ended.");
    }
    EXPECT_TRUE(host.barValues.empty());
    EXPECT_TRUE(host.questions.empty());
  }
  EXPECT_FALSE(std::filesystem::exists(MailboxFor("Inbox")));
}

TEST_F(RunTest, CancelledChoiceChangesNothing) {
  host.SetQueue({WriteMessage("Inbox/1.eml", "one")});
  host.chooserAnswers = {""};

  const RunReport report = Run();

  EXPECT_TRUE(report.cancelled);
  EXPECT_EQ(host.calls, (std::vector<std::string>{
                            "Queue",
                            "OwnerWindow",
                            "BrowseForFolder " + std::to_string(RecordingHost::kOwner) +
                                " Choose Folder to Save...",
                        }));
  EXPECT_TRUE(FolderIsEmpty(destination.path()));
}

TEST_F(RunTest, FilterTakesAnyCaseAndTrailingSpacesButNotLongerExtensions) {
  host.SetQueue({
      WriteMessage("Inbox/1.EML", "upper"),
      WriteMessage("Inbox/2.eMl", "mixed"),
      WriteMessage("Inbox/3.eml  ", "spaced"),
      WriteMessage("Inbox/4.eml.bak", "backup"),
      WriteMessage("Inbox/5.emlx", "emlx"),
      WriteMessage("Inbox/6.eml\t", "tab"),
      WriteMessage("Inbox/eml", "bare"),
  });

  const RunReport report = Run();

  EXPECT_EQ(report.messages, 3);
  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"upper", "mixed", "spaced"}));
}

TEST_F(RunTest, ConvertingTwiceAsksAndAppendsEveryMessageAgainOnlyOnYes) {
  host.SetQueue({WriteMessage("Inbox/1.eml", "one"), WriteMessage("Sent/2.eml", "two"),
                 WriteMessage("Inbox/3.eml", "three")});

  const RunReport first = Run();
  EXPECT_TRUE(host.questions.empty());
  host.chooserAnswers = {destination.str(), destination.str()};
  host.answers = {false};
  EXPECT_TRUE(Run().cancelled);
  ASSERT_EQ(host.questions.size(), 1u);
  EXPECT_EQ(host.questions[0],
            "These messages were already converted into this folder. Convert them again (a "
            "second copy)?");
  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"one", "three"}));
  host.answers = {true};
  const RunReport second = Run();

  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"one", "three", "one", "three"}));
  EXPECT_EQ(Tags(MailboxFor("Sent")), (std::vector<std::string>{"two", "two"}));
  // Mailboxes are listed once each, in the order they were first written.
  const std::vector<std::string> mailboxes = {MailboxFor("Inbox").string(),
                                              MailboxFor("Sent").string()};
  EXPECT_EQ(first.mailboxes, mailboxes);
  EXPECT_EQ(second.mailboxes, mailboxes);
  EXPECT_EQ(second.converted, 3);
}

TEST_F(RunTest, BatchFolderGoesIntoItsSiblingsMailbox) {
  host.SetQueue({WriteMessage("Inbox/1.eml", "one"), WriteMessage("Inbox!1/2.eml", "two")});

  const RunReport report = Run();

  EXPECT_EQ(Tags(MailboxFor("Inbox")), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(report.mailboxes, std::vector<std::string>{MailboxFor("Inbox").string()});
}

TEST_F(RunTest, ProgressNeverDividesByZeroOrRunsPastTheEnd) {
  const std::vector<std::string> names = {WriteMessage("Inbox/a.eml", "a"),
                                          WriteMessage("Inbox/b.eml", "b")};

  // A count of 0 or below the queue's length: the queue's length stands in.
  for (std::int32_t count : {0, 1, -5}) {
    RecordingHost host;
    const TempDir out;  // each run into a destination of its own
    host.chooserAnswers = {out.str()};
    host.SetQueue(names);
    host.count = count;
    ConversionRun(host, readers, PathStyle::Posix());
    EXPECT_EQ(host.barValues, (std::vector<float>{50.0f, 100.0f})) << "count " << count;
    EXPECT_EQ(host.progressCaptions,
              (std::vector<std::string>{"Message 1 (of 2)", "Message 2 (of 2)"}))
        << "count " << count;
  }

  // A larger count is what the bar divides by, read afresh at every item.
  RecordingHost growing;
  growing.chooserAnswers = {destination.str()};
  growing.SetQueue(names);
  growing.count = 4;
  // The third yield starts the second item.
  growing.onYield = [&growing](int yields) {
    if (yields == 3) growing.count = 5;
  };
  ConversionRun(growing, readers, PathStyle::Posix());
  EXPECT_EQ(growing.barValues, (std::vector<float>{25.0f, 40.0f}));
  EXPECT_EQ(growing.progressCaptions,
            (std::vector<std::string>{"Message 1 (of 4)", "Message 2 (of 5)"}));
}

}  // namespace
}  // namespace quillfen::test
