// The destination's index is only a cache of what the mailboxes hold: a
// damaged, cut or lying index, a crash's torn tail and a mail program's
// marks never cost a message, never double one, and nothing is cut before
// the user decided. Each flow ends with every message exactly once, byte for
// byte, and every byte that was there before the damage kept.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "destination/index_lines.h"
#include "tests/support/cli_process.h"
#include "tests/support/convert_bytes.h"
#include "tests/support/holdings.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

fs::path IndexOf(const fs::path& destination) {
  return destination / ".quillfen" / "index";
}

// Every file below destination with its bytes, the lock aside.
std::map<std::string, std::string> Snapshot(const fs::path& destination) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(destination))
    if (entry.is_regular_file() && entry.path().filename() != "lock")
      files[entry.path().string()] = ReadFile(entry.path());
  return files;
}

// The mailboxes' bytes; the first bytes of each must survive whatever is
// done to the index.
std::map<std::string, std::string> MailboxBytes(const fs::path& destination) {
  std::map<std::string, std::string> files;
  for (const fs::path& mailbox : FindMailboxes(destination))
    files[mailbox.string()] = ReadFile(mailbox);
  return files;
}

void ExpectKeptAsTheyWere(const std::map<std::string, std::string>& before) {
  for (const auto& [path, bytes] : before)
    EXPECT_EQ(ReadFile(path).substr(0, bytes.size()), bytes) << path;
}

// The start of the first line after from that begins with word.
std::size_t LineStart(const std::string& index, const std::string& word, std::size_t from = 0) {
  const std::size_t at = index.find("\n" + word + " ", from);
  return at == std::string::npos ? std::string::npos : at + 1;
}

// Holdings of two sources in one destination.
Holdings BothSources(const fs::path& a, const fs::path& b, const fs::path& destination) {
  Holdings expected = ExpectedHoldings(a, destination);
  for (auto& [mailbox, texts] : ExpectedHoldings(b, destination))
    expected[mailbox].insert(texts.begin(), texts.end());
  return expected;
}

// An index longer than the piece it is read in (1 MiB) is read whole:
// converting the same export again finds everything, and another export
// into the same destination cuts nothing.
TEST(IndexTrust, AnIndexOverOneMebibyteIsReadWhole) {
  TempDir work;
  GenerateMessageTree(work.path() / "big", 26000, 2, 20261208, {20, 60});
  GenerateMessageTree(work.path() / "small", 20, 1, 20261209);
  ASSERT_EQ(RunCli({"-q", "big", "out"}, work.path()).status, 0);
  ASSERT_GT(fs::file_size(IndexOf(work.path() / "out")), std::uintmax_t{1} << 20);
  const auto before = MailboxBytes(work.path() / "out");
  const CliResult again = RunCli({"-q", "big", "out"}, work.path());
  EXPECT_TRUE(Contains(again.out, "already holds all 26000 messages")) << again.out;
  const CliResult small = RunCli({"-q", "small", "out"}, work.path());
  EXPECT_TRUE(Contains(small.out, "Messages converted: 20 of 20\n")) << small.out;
  ExpectKeptAsTheyWere(before);
}

// The index cut at a random byte, or one of its lines lost: another export
// converted into the destination, then the first again. Nothing is cut,
// nothing doubled.
TEST(IndexTrust, AnIndexCutOrMissingALineCostsNothing) {
  TempDir work;
  const std::vector<fs::path> messages =
      GenerateMessageTree(work.path() / "export", 1500, 3, 20261210);
  GenerateMessageTree(work.path() / "b", 20, 1, 20261211);
  std::mt19937 rng(20261212);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const std::string a = "a" + std::to_string(round);
    fs::copy(work.path() / "export", work.path() / a, fs::copy_options::recursive);
    const fs::path out = work.path() / ("out" + std::to_string(round));
    ASSERT_EQ(RunCli({"-q", a, out.string()}, work.path()).status, 0);
    const std::string index = ReadFile(IndexOf(out));
    if (round < 3) {
      WriteFile(IndexOf(out), index.substr(0, 17 + rng() % (index.size() - 17)));
    } else {
      // A "held" line of the run lost from the middle.
      const std::size_t held = LineStart(index, "held", index.size() / 2);
      ASSERT_NE(held, std::string::npos);
      WriteFile(IndexOf(out), index.substr(0, held) + index.substr(index.find('\n', held) + 1));
    }
    const auto before = MailboxBytes(out);
    const CliResult other = RunCli({"-q", "b", out.string()}, work.path());
    EXPECT_EQ(other.status, 0) << other.err;
    ExpectKeptAsTheyWere(before);
    const CliResult first = RunCli({"-q", a, out.string()}, work.path());
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(Contains(first.out, "already holds all 1500 messages")) << first.out;
    // What the index learned since is whole: a message added to the source
    // is the only one appended, and then nothing is.
    WriteFile(work.path() / a /
                  fs::relative(messages[0], work.path() / "export")
                      .replace_filename("0000009999-added.eml"),
              "From: new@example.org\r\nSubject: added\r\n\r\nadded\r\n");
    const CliResult added = RunCli({"-q", a, out.string()}, work.path());
    EXPECT_TRUE(Contains(added.out, "converting the other 1.")) << added.out;
    const CliResult again = RunCli({"-q", a, out.string()}, work.path());
    EXPECT_TRUE(Contains(again.out, "already holds all 1501 messages")) << again.out;
    EXPECT_EQ(StoredHoldings(out), BothSources(work.path() / a, work.path() / "b", out));
  }
}

// The index with the lines of the last run that keep tells true, each
// line checked again: what a power cut can leave of lines appended but not
// flushed.
std::string KeepLinesOfLastRun(const std::string& index,
                               const std::function<bool(std::string_view)>& keep) {
  const std::size_t lastBegin = index.rfind("\nbegin ") + 1;
  std::string out = index.substr(0, lastBegin);
  std::int64_t number = std::count(out.begin(), out.end(), '\n') - 1;
  for (std::size_t at = lastBegin; at < index.size();) {
    const std::size_t end = index.find('\n', at);
    const std::string_view line(index.data() + at, end - at - 17);
    if (at == lastBegin || keep(line)) out.append(line).append(LineCheck(line, ++number)) += '\n';
    at = end + 1;
  }
  return out;
}

// A later export converted after an earlier one, cut off by a power cut:
// its marks and end never reached the disk, and its mailboxes lost their
// last writes (zeros where they were), or another program appended a record
// in the middle of them. Choosing No changes no byte; converting keeps every
// whole record, sets aside only the torn end, and adds what is missing.
TEST(IndexTrust, AnInterruptedRunsTailIsVerifiedBeforeItCounts) {
  TempDir work;
  const std::vector<fs::path> messages =
      GenerateMessageTree(work.path() / "full", 600, 3, 20261213);
  for (const bool zeros : {true, false}) {
    SCOPED_TRACE(zeros ? "zeros" : "a foreign record");
    const fs::path out = work.path() / (zeros ? "zeros" : "foreign");
    // The earlier export holds every other message of the later one, in
    // the same place.
    fs::remove_all(work.path() / "a");
    fs::copy(work.path() / "full", work.path() / "a", fs::copy_options::recursive);
    for (std::size_t i = 0; i < messages.size(); i += 2)
      fs::remove(work.path() / "a" / fs::relative(messages[i], work.path() / "full"));
    ASSERT_EQ(RunCli({"-q", "a", out.string()}, work.path()).status, 0);
    for (std::size_t i = 0; i < messages.size(); i += 2)
      fs::copy_file(messages[i],
                    work.path() / "a" / fs::relative(messages[i], work.path() / "full"));
    ASSERT_EQ(RunCli({"-q", "a", out.string()}, work.path()).status, 0);
    WriteFile(IndexOf(out), KeepLinesOfLastRun(ReadFile(IndexOf(out)), [](std::string_view line) {
                return !line.starts_with("mark") && !line.starts_with("end");
              }));
    const std::string foreign =
        "From other Sat Jan  1 00:00:00 2000\r\nSubject: theirs\r\n\r\nhi\r\n\r\n";
    for (const fs::path& mailbox : FindMailboxes(out)) {
      std::string bytes = ReadFile(mailbox);
      if (zeros)
        std::fill(bytes.end() - 3000, bytes.end(), '\0');
      else
        bytes.insert(bytes.rfind("\nFrom ") + 1, foreign);
      WriteFile(mailbox, bytes);
    }
    const auto damaged = Snapshot(out);
    const ConversionReport no = ConvertInProcess(
        work.path() / "a", out, [](const ConversionPlan&) { return Decision::Cancel; });
    EXPECT_NE(no.ending, Ending::Finished);
    EXPECT_EQ(Snapshot(out), damaged);

    const CliResult rerun = RunCli({"-q", "a", out.string()}, work.path());
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_EQ(Contains(rerun.out, "Set aside: "), zeros) << rerun.out;
    Holdings expected = ExpectedHoldings(work.path() / "a", out);
    if (!zeros)
      for (const fs::path& mailbox : FindMailboxes(out))
        expected[mailbox.string()].insert("Subject: theirs\r\n\r\nhi\r\n");
    EXPECT_EQ(StoredHoldings(out), expected);
    const CliResult again = RunCli({"-q", "a", out.string()}, work.path());
    EXPECT_TRUE(Contains(again.out, "already holds all 600 messages")) << again.out;
  }
}

// A mail program marks every record as read (Status: RO, X-Status), as it
// does when it opens the mailbox: the records are still the same messages.
TEST(IndexTrust, AMailProgramsStateFieldsKeepTheMessagesTheSame) {
  TempDir work;
  GenerateMessageTree(work.path() / "a", 300, 3, 20261214);
  ASSERT_EQ(RunCli({"-q", "a", "out"}, work.path()).status, 0);
  for (const fs::path& mailbox : FindMailboxes(work.path() / "out")) {
    std::string bytes = ReadFile(mailbox);
    for (std::size_t at = bytes.find("From "); at != std::string::npos;
         at = bytes.find("\nFrom ", at + 1)) {
      const std::size_t lineEnd = bytes.find('\n', at + 1) + 1;
      bytes.insert(lineEnd, "Status: RO\nX-Status: A\n  folded\n");
    }
    WriteFile(mailbox, bytes);
  }
  const CliResult again = RunCli({"-q", "a", "out"}, work.path());
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(Contains(again.out, "already holds all 300 messages")) << again.out;
}

}  // namespace
}  // namespace quillfen::test
