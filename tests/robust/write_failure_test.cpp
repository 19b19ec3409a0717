// Failures while writing: every mailbox must still end at a record
// boundary, and every message that could not be written must be reported.
// The tests run as root, where permission bits stop nothing, so the
// failures are made with a file size limit and files standing where
// folders should be; a disk that fills up, and the rerun after it, are the
// flows' (tests/flows/exactly_once_test.cpp).

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "os/paths.h"
#include "tests/robust/robust_support.h"
#include "tests/support/cli_process.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

// Messages of 20 to 60 KB in three mailboxes (Inbox, its batch folder
// Inbox!1 joining it, Sent, Drafts): a few MB each.
void GenerateBigMessages(const fs::path& root, int count) {
  GenerateMessageTree(root, count, 4, 11, MessageTreeSizes{20000, 60000});
}

TEST(WriteFailure, FileSizeLimitLeavesWholeRecordsAndReportsTheRest) {
  TempDir source;
  TempDir destination;
  GenerateBigMessages(source.path(), 160);
  const auto before = SnapshotTree(source.path());

  constexpr std::size_t kLimit = 1 << 20;
  CliProcess cli({source.str(), destination.str()}, kLimit);
  const int status = cli.Wait();
  ASSERT_EQ(ExitStatus(status), 1) << cli.out() << cli.err();

  const ConversionReport report = ReportFromCliOutput(cli.out());
  ASSERT_FALSE(report.failures.empty());
  for (const FailedMessage& failure : report.failures)
    EXPECT_NE(failure.reason.find("File too large"), std::string::npos) << failure.reason;
  EXPECT_EQ(Joined(CheckMailboxes(destination.path(), WalkQueue(source.path()), &report)), "");
  const std::vector<fs::path> mailboxes = FindMailboxes(destination.path());
  EXPECT_EQ(mailboxes.size(), 3u);
  for (const fs::path& mailbox : mailboxes) {
    EXPECT_LE(fs::file_size(mailbox), kLimit);
    EXPECT_GT(fs::file_size(mailbox), kLimit / 2) << "later, smaller messages should still fit";
  }
  EXPECT_EQ(SnapshotTree(source.path()), before);
}

TEST(WriteFailure, DestinationThatIsAFile) {
  TempDir source;
  TempDir work;
  GenerateMessageTree(source.path(), 6, 2, 3);
  const fs::path file = work.path() / "not-a-folder";
  WriteFile(file, "keep me");

  CliProcess cli({source.str(), file.string()});
  EXPECT_EQ(ExitStatus(cli.Wait()), 2);
  EXPECT_NE(cli.err().find(file.string() + " is not a folder"), std::string::npos) << cli.err();
  EXPECT_EQ(ReadFile(file), "keep me");
}

TEST(WriteFailure, FileWhereAFolderOrMailboxBelongs) {
  TempDir source;
  TempDir destination;
  GenerateMessageTree(source.path(), 40, 4, 5);
  const fs::path mirror = destination.path() / source.path().relative_path();
  // A file stands where the mirror of Sent must be created, and a folder
  // where the Drafts mailbox must be written. The file is left alone and
  // Sent's mail goes into a folder beside it; the folder fails Drafts.
  WriteFile(mirror / "Sent", "blocking file");
  fs::create_directories(mirror / "Drafts" / "Drafts.mbox");

  const TreeConversion result = ConvertTree(source.path(), destination.path());
  std::set<std::string> failedFolders;
  for (const FailedMessage& failure : result.report.failures)
    failedFolders.insert(fs::path(failure.file).parent_path().filename().string());
  EXPECT_EQ(failedFolders, (std::set<std::string>{"Drafts"}));
  EXPECT_EQ(result.report.failures.size(), 10u);
  EXPECT_EQ(result.report.converted, 30);
  ASSERT_EQ(result.report.renamedMailboxes.size(), 1u);
  EXPECT_EQ(result.report.renamedMailboxes[0].mailbox,
            (mirror / "Sent (2)" / "Sent (2).mbox").string());
  EXPECT_EQ(Joined(CheckMailboxes(destination.path(), result.queue, &result.report)), "");
  EXPECT_EQ(ReadFile(mirror / "Sent"), "blocking file");
  EXPECT_TRUE(fs::is_empty(mirror / "Drafts" / "Drafts.mbox"));
}

}  // namespace
}  // namespace quillfen::test
