#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "tests/cli/cli_runner.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

// Every mailbox below destination by its path relative to destination, with
// its records' texts (unquoted) as a set: an archive keeps its own order of
// entries, so only the set of records per mailbox is compared.
std::map<std::string, std::multiset<std::string>> MailboxesBelow(const fs::path& destination) {
  std::map<std::string, std::multiset<std::string>> mailboxes;
  for (const auto& entry : fs::recursive_directory_iterator(destination)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mbox") continue;
    auto& texts = mailboxes[fs::relative(entry.path(), destination).string()];
    for (const StoredRecord& record : ReadMbox(entry.path()))
      texts.insert(record.fromLine + "\n" + UnquoteMboxrd(record.text));
  }
  return mailboxes;
}

// Packs the contents of work/folder as the export does: entry names start
// below the folder ("./Inbox/1.eml"), so the archive export.tgz stands for
// the folder export/.
void Pack(const fs::path& work, const std::string& folder, const std::string& archive,
          const std::string& flags) {
  const std::string command = "tar -C '" + (work / folder).string() + "' -" + flags + "f '" +
                              (work / archive).string() + "' .";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(CliArchive, ArchiveConvertsLikeTheExtractedFolder) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 80, 6, 20140101);
  Pack(work.path(), "export", "export.tgz", "cz");
  Pack(work.path(), "export", "export.tar", "c");

  const CliResult fromFolder = RunCli({"-q", "export", "from-folder"}, work.path());
  ASSERT_EQ(fromFolder.status, 0) << fromFolder.err;
  const auto expected = MailboxesBelow(work.path() / "from-folder");
  ASSERT_FALSE(expected.empty());

  for (const std::string archive : {"export.tgz", "export.tar"}) {
    SCOPED_TRACE(archive);
    const std::string destination = "from-" + archive;
    const CliResult fromArchive = RunCli({"-q", archive, destination}, work.path());
    EXPECT_EQ(fromArchive.status, 0) << fromArchive.err;
    EXPECT_EQ(fromArchive.err, "");
    EXPECT_NE(fromArchive.out.find("Messages converted: 80 of 80\n"), std::string::npos)
        << fromArchive.out;
    EXPECT_EQ(MailboxesBelow(work.path() / destination), expected);
  }
}

TEST(CliArchive, DamagedArchiveStopsWithItsNameAndLeavesNoRecord) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 40, 4, 20140102);
  Pack(work.path(), "export", "export.tgz", "cz");
  const std::string bytes = ReadFile(work.path() / "export.tgz");
  WriteFile(work.path() / "cut.tgz", std::string_view(bytes).substr(0, bytes.size() / 2));

  const CliResult result = RunCli({"-q", "cut.tgz", "out"}, work.path());

  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find((work.path() / "cut.tgz").string()), std::string::npos) << result.err;
  // The archive is read once, so the damage shows only after records were
  // written: not one of them is kept.
  EXPECT_NE(result.err.find("nothing of this conversion was kept"), std::string::npos)
      << result.err;
  if (fs::exists(work.path() / "out")) {
    EXPECT_TRUE(MailboxesBelow(work.path() / "out").empty());
  }
}

}  // namespace
}  // namespace quillfen::test
