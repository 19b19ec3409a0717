#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "scan/file_system.h"
#include "scan/path_logger.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

using Names = std::vector<std::string>;

TEST(DefaultFileSystem, SplitsFoldersFromFilesInByteOrder) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  for (const char* name :
       {"b.eml", "B.eml", ".hidden", "no extension", "\xc3\xa9t\xc3\xa9.eml", "_x"})
    WriteFile(root / name, "x");
  fs::create_directories(root / "sub");
  fs::create_directories(root / "Sub");
  fs::create_directories(dir.path() / "elsewhere");
  fs::create_directory_symlink(dir.path() / "elsewhere", root / "folder link");
  fs::create_symlink(root / "b.eml", root / "file link");
  fs::create_symlink(dir.path() / "missing", root / "dangling link");

  auto service = MakeDefaultFileSystem();
  const std::string folder = root.string() + "/";
  EXPECT_EQ(service->SubFolders(folder), (Names{"Sub", "folder link", "sub"}));
  EXPECT_EQ(service->Files(folder), (Names{".hidden", "B.eml", "_x", "b.eml", "dangling link",
                                           "file link", "no extension", "\xc3\xa9t\xc3\xa9.eml"}));
  // Files alone, without SubFolders first, gives the same answer.
  EXPECT_EQ(MakeDefaultFileSystem()->Files(folder).size(), 8u);
}

TEST(DefaultFileSystem, AnswersForTheFolderAskedAboutEvenWhenAskedOutOfTurn) {
  TempDir dir;
  WriteFile(dir.path() / "A" / "a.eml", "x");
  WriteFile(dir.path() / "B" / "b.eml", "x");
  auto service = MakeDefaultFileSystem();
  const std::string a = dir.str() + "A/";
  const std::string b = dir.str() + "B/";

  EXPECT_TRUE(service->SubFolders(a).empty());
  EXPECT_EQ(service->Files(b), Names{"b.eml"});
  EXPECT_EQ(service->Files(a), Names{"a.eml"});
  EXPECT_EQ(service->Files(a), Names{"a.eml"});
}

TEST(DefaultFileSystem, ReportsFailuresWithFolderAndReason) {
  TempDir dir;
  WriteFile(dir.path() / "file", "x");
  fs::create_directory_symlink(dir.path(), dir.path() / "link");
  auto service = MakeDefaultFileSystem();

  EXPECT_TRUE(service->FolderExists(dir.str()));
  EXPECT_TRUE(service->FolderExists(dir.str() + "link"));
  EXPECT_FALSE(service->FolderExists(dir.str() + "file"));
  EXPECT_FALSE(service->FolderExists(dir.str() + "missing"));
  EXPECT_FALSE(service->FolderExists(""));

  const std::string missing = dir.str() + "missing/";
  try {
    service->SubFolders(missing);
    FAIL() << "listing a missing folder succeeded";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.folder(), missing);
    EXPECT_EQ(error.reason(), std::strerror(ENOENT));
  }
  EXPECT_THROW(service->Files(dir.str() + "file"), FileSystemError);

  EXPECT_EQ(service->Identity(dir.str()), service->Identity(dir.str() + "link/"));
  EXPECT_NE(service->Identity(dir.str()), service->Identity(dir.str() + "file"));
  EXPECT_FALSE(service->Identity(missing).has_value());
}

TEST(FolderWalkOnDisk, RootWithAndWithoutSeparatorGivesTheSameQueue) {
  TempDir dir;
  WriteFile(dir.path() / "Mail" / "1.eml", "x");
  WriteFile(dir.path() / "Mail" / "Inbox" / "2.eml", "x");
  pathLogger walker;

  walker.PathLogInit();
  walker.LogPath(dir.str() + "Mail");
  const QueueListRef without = walker.fullFileNames();
  const std::string firstRoot = walker.pathNames()->Item(1);
  walker.PathLogInit();
  walker.LogPath(dir.str() + "Mail/");

  EXPECT_EQ(firstRoot, dir.str() + "Mail/");
  EXPECT_EQ(walker.pathNames()->Item(1), firstRoot);
  EXPECT_EQ(Names(without->begin(), without->end()),
            (Names{dir.str() + "Mail/1.eml", dir.str() + "Mail/Inbox/2.eml"}));
  EXPECT_EQ(Names(walker.fullFileNames()->begin(), walker.fullFileNames()->end()),
            Names(without->begin(), without->end()));
}

TEST(FolderWalkOnDisk, LinkLoopsEnd) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  WriteFile(root / "A" / "a.eml", "x");
  // One link back up: a walker that follows it fails on the platform's
  // link limit soon instead of running on for ever.
  fs::create_directory_symlink("..", root / "A" / "up");
  pathLogger walker;

  walker.PathLogInit();
  walker.LogPath(root.string());

  const std::string r = root.string() + "/";
  EXPECT_EQ(Names(walker.pathNames()->begin(), walker.pathNames()->end()), (Names{r, r + "A/"}));
  EXPECT_EQ(Names(walker.fullFileNames()->begin(), walker.fullFileNames()->end()),
            Names{r + "A/a.eml"});
}

TEST(FolderWalkOnDisk, QueuesEveryFileOfTheSampleExportOnceInFolderOrder) {
  const fs::path corpus = test::CorpusRoot();
  if (corpus.empty()) GTEST_SKIP() << "the sample export is not present";

  std::set<std::string> onDisk;
  for (const auto& entry : fs::recursive_directory_iterator(corpus))
    if (!entry.is_directory()) onDisk.insert(entry.path().string());

  pathLogger walker;
  walker.PathLogInit();
  walker.LogPath(corpus.string());

  const auto& queue = *walker.fullFileNames();
  const auto& folders = *walker.pathNames();
  EXPECT_EQ(walker.Count(), static_cast<std::int32_t>(onDisk.size()));
  EXPECT_EQ(std::set<std::string>(queue.begin(), queue.end()), onDisk);

  // Each file's folder comes at or after the previous file's folder.
  std::int32_t folder = 1;
  for (const std::string& name : queue) {
    const std::string parent = name.substr(0, name.rfind('/') + 1);
    while (folder <= folders.Count() && folders.Item(folder) != parent) ++folder;
    ASSERT_LE(folder, folders.Count()) << name << " is out of folder order";
  }
}

}  // namespace
}  // namespace quillfen
