// Whole flows as a user runs them, each ending with every message in its
// mailbox exactly once, byte for byte: whatever is missing is appended,
// nothing else.

#include <gtest/gtest.h>
#include <csignal>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "conversion/conversion.h"
#include "os/fault_injection.h"
#include "tests/source/archive_test_support.h"
#include "tests/support/cli_process.h"
#include "tests/support/convert_bytes.h"
#include "tests/support/holdings.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

void Pack(const fs::path& work, const std::string& folder, const std::string& archive) {
  PackFolder(work / folder, work / archive);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::uintmax_t MailboxBytes(const fs::path& destination) {
  std::uintmax_t bytes = 0;
  std::error_code ec;
  if (fs::exists(destination, ec))
    for (const auto& entry : fs::recursive_directory_iterator(destination, ec))
      if (entry.path().extension() == ".mbox") bytes += entry.file_size(ec);
  return bytes;
}

// Waits until the run has appended at least bytes bytes to the mailboxes
// below destination: it is then well under way.
void WaitForGrowth(const fs::path& destination, std::uintmax_t bytes, CliProcess& run) {
  const std::uintmax_t start = MailboxBytes(destination);
  for (int i = 0; i < 4000 && !run.Ended(); ++i) {
    if (MailboxBytes(destination) >= start + bytes) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// A disk that fills up, then space freed and a rerun, from the folder and
// from the archive; and an index that cannot be written, which fails the
// run rather than passing for a success.
TEST(ExactlyOnce, AFullDiskThenARerunConvertsWhatDidNotFit) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 400, 8, 20141201);
  Pack(work.path(), "export", "export.tgz");
  for (const char* source : {"export", "export.tgz"}) {
    SCOPED_TRACE(source);
    const fs::path destination = work.path() / (std::string("out-") + source);
    ConversionReport full;
    {
      const os::ScopedFaults faults({.pathPart = ".mbox", .bytesBeforeFullDisk = 200 * 1024});
      full = ConvertInProcess(work.path() / source, destination);
    }
    ASSERT_EQ(full.ending, Ending::Finished);
    ASSERT_FALSE(full.failures.empty());
    // What is reported as converted is on the disk; the rest is listed.
    EXPECT_EQ(full.converted + static_cast<std::int32_t>(full.failures.size()), 400);
    EXPECT_EQ(static_cast<std::size_t>(full.converted), RecordCount(StoredHoldings(destination)));

    const ConversionReport rerun = ConvertInProcess(work.path() / source, destination);
    EXPECT_EQ(rerun.ending, Ending::Finished);
    EXPECT_EQ(rerun.plan.held, full.converted);
    EXPECT_EQ(rerun.added, 400 - full.converted);
    EXPECT_TRUE(rerun.failures.empty());
    ExpectEveryMessageOnce(work.path() / "export", destination);
  }

  const fs::path destination = work.path() / "out-index";
  ConversionReport failed;
  {
    // Room for the index's first lines only.
    const os::ScopedFaults faults({.pathPart = "index", .bytesBeforeFullDisk = 2000});
    failed = ConvertInProcess(work.path() / "export", destination);
  }
  EXPECT_EQ(failed.ending, Ending::DestinationFailed);
  EXPECT_TRUE(Contains(failed.reason, "cannot write the index")) << failed.reason;
  const ConversionReport rerun = ConvertInProcess(work.path() / "export", destination);
  EXPECT_EQ(rerun.ending, Ending::Finished);
  ExpectEveryMessageOnce(work.path() / "export", destination);
}

// The archive and its extracted folder are one source, in either order, a
// copied or touched archive included, and after a kill of either.
TEST(ExactlyOnce, TheArchiveAndItsFolderAreOneSource) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 3000, 12, 20141202, {2000, 20000});
  Pack(work.path(), "export", "export.tgz");

  const CliResult archive = RunCli({"-q", "export.tgz", "out"}, work.path());
  ASSERT_EQ(archive.status, 0) << archive.err;
  const CliResult folder = RunCli({"-q", "export", "out"}, work.path());
  EXPECT_EQ(folder.status, 0) << folder.err;
  EXPECT_TRUE(Contains(folder.out, "already holds all 3000 messages of")) << folder.out;
  fs::last_write_time(work.path() / "export.tgz", fs::file_time_type::clock::now());
  const CliResult touched = RunCli({"-q", "export.tgz", "out"}, work.path());
  EXPECT_TRUE(Contains(touched.out, "nothing to do")) << touched.out;
  ExpectEveryMessageOnce(work.path() / "export", work.path() / "out");

  // Killed while it writes from the archive, then the folder: the torn
  // record goes, the rest is added once.
  {
    CliProcess killed({(work.path() / "export.tgz").string(), (work.path() / "cut").string(), "25"},
                      std::nullopt, std::nullopt, "tests/quillfen_killed_at_change");
    const int status = killed.Wait();
    EXPECT_TRUE(WasKilled(status)) << "the run ended before it could be killed";
  }
  const CliResult after = RunCli({"-q", "export", "cut"}, work.path());
  EXPECT_EQ(after.status, 0) << after.err;
  ExpectEveryMessageOnce(work.path() / "export", work.path() / "cut");
}

// What a user does to a source and a destination between two runs: the
// hidden folder lost or damaged, a message added and one removed, one
// edited, a later export with new messages, a second copy asked for.
TEST(ExactlyOnce, ChangesBetweenRunsAppendOnlyWhatIsMissing) {
  TempDir work;
  const std::vector<fs::path> messages =
      GenerateMessageTree(work.path() / "export", 500, 6, 20141203);
  ASSERT_EQ(RunCli({"-q", "export", "out"}, work.path()).status, 0);

  fs::remove_all(work.path() / "out/.quillfen");
  const CliResult lost = RunCli({"-q", "export", "out"}, work.path());
  EXPECT_TRUE(Contains(lost.out, "Reading what")) << lost.out;
  EXPECT_TRUE(Contains(lost.out, "already holds all 500 messages")) << lost.out;
  WriteFile(work.path() / "out/.quillfen/index", "quillfen-index 1\nheld 1 x\n\x01garbage");
  const CliResult damaged = RunCli({"-q", "export", "out"}, work.path());
  EXPECT_EQ(damaged.status, 0) << damaged.err;
  EXPECT_TRUE(Contains(damaged.out, "already holds all 500 messages")) << damaged.out;

  // One more message, one less: only the new one is appended, and the
  // removed one stays where it was converted.
  const std::string removed = ReadFile(messages[7]);
  const fs::path removedMailbox = ExpectedMailbox(messages[7], work.path() / "out");
  fs::remove(messages[7]);
  WriteFile(messages[0].parent_path() / "0000009999-new.eml",
            "From: new@example.org\r\nSubject: new\r\n\r\nnew\r\n");
  const CliResult changed = RunCli({"-q", "export", "out"}, work.path());
  EXPECT_TRUE(Contains(changed.out,
                       "already holds 499 of these 500 messages; converting the "
                       "other 1."))
      << changed.out;
  Holdings expected = ExpectedHoldings(work.path() / "export", work.path() / "out");
  expected[removedMailbox.string()].insert(removed);
  EXPECT_EQ(StoredHoldings(work.path() / "out"), expected);

  // An edited message arrives as it is now; its earlier text stays.
  const std::string before = ReadFile(messages[3]);
  WriteFile(messages[3], before + "P.S. edited\r\n");
  // A later export: the same messages and 150 new ones, in the same place.
  GenerateMessageTree(work.path() / "later", 150, 6, 20141204);
  for (const auto& entry : fs::recursive_directory_iterator(work.path() / "later"))
    if (entry.is_regular_file() && IsMessageFile(entry.path()))
      WriteFile(work.path() / "export" /
                    fs::relative(entry.path(), work.path() / "later")
                        .replace_filename("later-" + entry.path().filename().string()),
                ReadFile(entry.path()));
  const CliResult later = RunCli({"-q", "export", "out"}, work.path());
  EXPECT_TRUE(Contains(later.out, "converting the other 151.")) << later.out;
  expected = ExpectedHoldings(work.path() / "export", work.path() / "out");
  expected[removedMailbox.string()].insert(removed);
  expected[ExpectedMailbox(messages[3], work.path() / "out").string()].insert(before);
  EXPECT_EQ(StoredHoldings(work.path() / "out"), expected);

  // A second copy only when asked for.
  const CliResult again = RunCli({"-q", "--again", "export", "out"}, work.path());
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(RecordCount(StoredHoldings(work.path() / "out")), 2 * RecordCount(expected) - 2);
}

// A source named like a batch folder writes its own messages beside its
// mirror folder, into its sibling's mailbox; one without messages of its
// own must still be found converted by its subfolders'.
TEST(ExactlyOnce, ASourceNamedLikeABatchFolderIsFoundConverted) {
  TempDir work;
  fs::create_directories(work.path() / "b/X");
  GenerateMessageTree(work.path() / "b/X!2/sub", 20, 1, 20141207);
  ASSERT_EQ(RunCli({"-q", "b/X!2", "out"}, work.path()).status, 0);
  const CliResult again = RunCli({"-q", "b/X!2", "out"}, work.path());
  EXPECT_TRUE(Contains(again.out, "already holds all 20 messages")) << again.out;
}

// Ctrl-C on one source, then a kill of its rerun, another source into the
// same destination, then the first again: each message once, and the
// stopped run's summary counts against the whole queue.
TEST(ExactlyOnce, AnotherSourceBetweenAStopAndItsRerun) {
  TempDir work;
  GenerateMessageTree(work.path() / "a", 4000, 10, 20141205, {2000, 20000});
  GenerateMessageTree(work.path() / "b", 300, 4, 20141206);
  {
    CliProcess stopped({(work.path() / "a").string(), (work.path() / "out").string()});
    WaitForGrowth(work.path() / "out", 1024 * 1024, stopped);
#ifndef _WIN32
    stopped.Signal(SIGINT);
#endif
    EXPECT_EQ(ExitStatus(stopped.Wait()), 130) << stopped.err();
    EXPECT_TRUE(Contains(stopped.out(), " of 4000\n")) << stopped.out();
  }
  {
    CliProcess killed({(work.path() / "a").string(), (work.path() / "out").string(), "12"},
                      std::nullopt, std::nullopt, "tests/quillfen_killed_at_change");
    const int status = killed.Wait();
    EXPECT_TRUE(WasKilled(status)) << "the run ended before it could be killed";
  }
  ASSERT_EQ(RunCli({"-q", "b", "out"}, work.path()).status, 0);
  const CliResult rerun = RunCli({"-q", "a", "out"}, work.path());
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_TRUE(Contains(rerun.out, "Messages converted: 4000 of 4000\n")) << rerun.out;
  Holdings expected = ExpectedHoldings(work.path() / "a", work.path() / "out");
  for (auto& [mailbox, texts] : ExpectedHoldings(work.path() / "b", work.path() / "out"))
    expected[mailbox].insert(texts.begin(), texts.end());
  EXPECT_EQ(StoredHoldings(work.path() / "out"), expected);
}

}  // namespace
}  // namespace quillfen::test
