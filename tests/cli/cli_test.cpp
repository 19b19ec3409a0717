#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "destination/mirror_paths.h"
#include "mbox/from_line.h"
#include "os/paths.h"
#include "source/message_readers.h"
#include "tests/support/cli_process.h"
#include "tests/support/holdings.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

constexpr char kSeparator = PathStyle::Native().separator;

// A message file that a conversion cannot open: a link that leads nowhere,
// or on Windows, where Wine makes no links, a file held open by a handle
// that shares it with nobody.
class UnreadableFile {
 public:
  explicit UnreadableFile(const fs::path& path) {
#ifdef _WIN32
    WriteFile(path, "Subject: held\r\n\r\nx\r\n");
    handle_ = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + Utf8(path));
#else
    fs::create_symlink(path.parent_path() / "nowhere.eml", path);
#endif
  }
  ~UnreadableFile() {
#ifdef _WIN32
    ::CloseHandle(handle_);
#endif
  }
  UnreadableFile(const UnreadableFile&) = delete;
  UnreadableFile& operator=(const UnreadableFile&) = delete;

 private:
#ifdef _WIN32
  HANDLE handle_;
#endif
};

// Each record's From line is the one its own message gives: the header
// block may be parsed on either thread of a run, and its answers must stay
// with their message.
void ExpectFromLinesOfTheirOwnMessages(const fs::path& source, const fs::path& destination) {
  std::map<std::string, std::string> fromLineOf;
  MessageReader reader;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file() || !IsMessageFile(entry.path())) continue;
    const std::string bytes = ReadFile(entry.path());
    const auto modified = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(entry.path())).time_since_epoch());
    reader.OpenMessageBytes(bytes, modified.count());
    fromLineOf[WithoutEnvelopeLine(bytes)] =
        FormatFromLine(reader.SenderAddress(), reader.MessageDate());
  }
  for (const auto& entry : fs::recursive_directory_iterator(destination)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mbox") continue;
    for (const StoredRecord& record : ReadMbox(entry.path())) {
      const auto expected = fromLineOf.find(UnquoteMboxrd(record.text));
      ASSERT_NE(expected, fromLineOf.end()) << "a record of no message in " << entry.path();
      EXPECT_EQ(record.fromLine, expected->second) << entry.path();
    }
  }
}

TEST(Cli, ConvertsAGeneratedTreeGivenByRelativePaths) {
  TempDir work;
  const auto messages = GenerateMessageTree(work.path() / "export", 60, 6, 20130305);

  const CliResult result = RunCli({"export", "out/new"}, work.path());

  EXPECT_EQ(result.status, 0) << result.err;
  // Without a terminal there is no progress line and nothing else on stderr.
  EXPECT_EQ(result.err, "");
  const fs::path destination = work.path() / "out" / "new";
  const Holdings expected = ExpectedHoldings(work.path() / "export", destination);
  EXPECT_EQ(result.out,
            "Messages converted: 60 of 60\nMailboxes written: " + std::to_string(expected.size()) +
                "\nDestination: " + Utf8(destination) + kSeparator + "\n");
  EXPECT_EQ(messages.size(), 60u);
  ExpectEveryMessageOnce(work.path() / "export", destination);
}

TEST(Cli, ConvertsTheSharedCorpus) {
  const fs::path corpus = CorpusRoot();
  if (corpus.empty()) GTEST_SKIP() << "the shared corpus ../shared/corpus/zimbra-export is absent";
  TempDir destination;

  const CliResult result = RunCli({"-q", corpus.string(), destination.path().string()});

  EXPECT_EQ(result.status, 0) << result.out << result.err;
  const Holdings expected = ExpectedHoldings(corpus, destination.path());
  EXPECT_EQ(RecordCount(expected), 381u);
  EXPECT_NE(result.out.find("Messages converted: 381 of 381\n"), std::string::npos) << result.out;
  ExpectEveryMessageOnce(corpus, destination.path());
  ExpectFromLinesOfTheirOwnMessages(corpus, destination.path());
}

TEST(Cli, MessageThatCannotBeReadGivesStatusOneAndIsNamed) {
  TempDir work;
  const fs::path inbox = work.path() / "export" / "Inbox";
  WriteFile(inbox / "1.eml", "From: a@example.org\r\nSubject: one\r\n\r\nhi\r\n");
  const fs::path unreadable = inbox / "2.eml";
  const UnreadableFile held(unreadable);
  WriteFile(inbox / "3.eml", "From: b@example.org\r\nSubject: three\r\n\r\nho\r\n");
  // A folder name too long to end in ".mbox": its mailbox's shortened name
  // is in the summary.
  const std::string longName(252, 'x');
  WriteFile(work.path() / "export" / longName / "4.eml", "Subject: four\r\n\r\nhe\r\n");

  const CliResult result = RunCli({"-q", "export", "out"}, work.path());

  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_NE(result.out.find("Messages converted: 3 of 4\n"), std::string::npos) << result.out;
  const std::string shortened = (work.path() / "out" / work.path().relative_path() / "export" /
                                 longName / (std::string(250, 'x') + ".mbox"))
                                    .string();
  EXPECT_NE(result.out.find("Mailbox name shortened to fit: " + shortened + "\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Not converted: " + Utf8(unreadable) + ": "), std::string::npos)
      << result.out;
  const fs::path mailbox = ExpectedMailbox(inbox / "1.eml", work.path() / "out");
  EXPECT_EQ(ReadMbox(mailbox).size(), 2u);
}

TEST(Cli, BadUsageOrSourceGivesStatusTwo) {
  TempDir work;
  WriteFile(work.path() / "file.eml", "From: a@example.org\r\n\r\n");

  const std::vector<std::vector<std::string>> usages = {
      {},
      {"only-one"},
      {"a", "b", "c"},
      {"--no-such-option", "a", "b"},
      {"missing", "out"},
      {"file.eml", "out"},
  };
  for (const auto& args : usages) {
    const CliResult result = RunCli(args, work.path());
    std::string shown;
    for (const auto& arg : args) shown += " " + arg;
    EXPECT_EQ(result.status, 2) << shown;
    EXPECT_NE(result.err, "") << shown;
    EXPECT_EQ(result.out, "") << shown;
  }
  // Nothing was created for a run that could not start.
  EXPECT_FALSE(fs::exists(work.path() / "out"));

  // An empty DEST names no folder: it is refused as such, not taken as a
  // path.
  WriteFile(work.path() / "export" / "1.eml", "From: a@example.org\r\n\r\n");
  const CliResult empty = RunCli({"export", ""}, work.path());
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.err.find("DEST is empty"), std::string::npos) << empty.err;
}

// A summary that could not be written is no success: the reason goes to
// stderr and the status is 1; a run that could not start keeps its 2.
TEST(Cli, OutputThatCannotBeWrittenIsNoSuccess) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir work;
  GenerateMessageTree(work.path() / "export", 3, 1, 11);
  const std::string cli =
      "cd '" + work.path().string() + "' && '" QUILLFEN_BUILD_DIR "/quillfen-cli' ";
  const auto status = [](const std::string& command) {
    return ExitStatus(std::system(command.c_str()));
  };

  EXPECT_EQ(status(cli + "export out >/dev/full 2>err"), 1);
  EXPECT_EQ(ReadFile(work.path() / "err"),
            "quillfen-cli: cannot write to standard output: No space left on device\n");
  ExpectEveryMessageOnce(work.path() / "export", work.path() / "out");
  EXPECT_EQ(status(cli + "export again >/dev/full 2>&1"), 1);
  EXPECT_EQ(status(cli + "--help >/dev/full 2>/dev/null"), 1);
  EXPECT_EQ(status(cli + "missing out >/dev/full 2>&1"), 2);
}

TEST(Cli, HelpAndVersionSucceed) {
  const CliResult help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("SOURCE"), std::string::npos);
  EXPECT_NE(help.out.find("--quiet"), std::string::npos);

  const CliResult version = RunCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_search(version.out, std::regex("\\d+\\.\\d+\\.\\d+"))) << version.out;
}

TEST(Cli, ShowsProgressOnATerminalUnlessQuiet) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 12, 2, 7);

  const CliResult shown = RunCli({"export", "out"}, work.path(), true);
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("\r["), std::string::npos);
  // The last message is always drawn.
  EXPECT_TRUE(std::regex_search(shown.out, std::regex("Message (\\d+) \\(of \\1\\)"))) << shown.out;

  const CliResult quiet = RunCli({"--quiet", "--again", "export", "out"}, work.path(), true);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out.find("Message 1 (of"), std::string::npos) << quiet.out;
  EXPECT_NE(quiet.out.find("Messages converted: 12 of 12"), std::string::npos) << quiet.out;
}

}  // namespace
}  // namespace quillfen::test
