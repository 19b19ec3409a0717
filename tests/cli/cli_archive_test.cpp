#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/source/archive_test_support.h"
#include "tests/support/cli_process.h"
#include "tests/support/holdings.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

// Packs the contents of work/folder as the export does: entry names start
// below the folder ("./Inbox/1.eml"), so the archive export.tgz stands for
// the folder export/.
void Pack(const fs::path& work, const std::string& folder, const std::string& archive) {
  PackFolder(work / folder, work / archive);
}

TEST(CliArchive, DamagedArchiveStopsWithItsNameAndLeavesNoRecord) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 40, 4, 20140102);
  Pack(work.path(), "export", "export.tgz");
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
    EXPECT_TRUE(StoredHoldings(work.path() / "out").empty());
  }
}

}  // namespace
}  // namespace quillfen::test
