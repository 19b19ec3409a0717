#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "os/folders.h"
#include "os/platform.h"
#include "source/file_system.h"
#include "source/folder_walker.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

using Names = std::vector<std::string>;

constexpr char kSep = FolderWalker::kNativeSeparator;

// Links to folders, or a skip of the calling test where the system cannot
// make them (Wine's, for one).
#define MAKE_FOLDER_LINK(target, link)                                                 \
  do {                                                                                 \
    if (const os::Status made = os::MakeFolderLink(target, link); !made.ok())          \
      GTEST_SKIP() << "this system cannot make a link to a folder: " << made.reason(); \
  } while (false)

TEST(DefaultFileSystem, SplitsFoldersFromFilesInByteOrder) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  // Names that differ in case only are one name on Windows.
  const bool caseVariants = !os::kWindows;
  for (const char* name : {"b.eml", ".hidden", "no extension", "\xc3\xa9t\xc3\xa9.eml", "_x"})
    WriteFile(root / std::u8string(reinterpret_cast<const char8_t*>(name)), "x");
  fs::create_directories(root / "sub");
  if (caseVariants) {
    WriteFile(root / "B.eml", "x");
    fs::create_directories(root / "Sub");
  }
  fs::create_directories(dir.path() / "elsewhere");
  const bool folderLink =
      os::MakeFolderLink((dir.path() / "elsewhere").string(), (root / "folder link").string()).ok();
  EXPECT_TRUE(folderLink || os::kWindows);
  // The C++ library of the Windows build makes no links to files.
  const bool fileLinks = !os::kWindows;
  if (fileLinks) {
    fs::create_symlink(root / "b.eml", root / "file link");
    fs::create_symlink(dir.path() / "missing", root / "dangling link");
  }

  Names folders;
  if (caseVariants) folders.push_back("Sub");
  if (folderLink) folders.push_back("folder link");
  folders.push_back("sub");
  Names files = {".hidden"};
  if (caseVariants) files.push_back("B.eml");
  files.insert(files.end(), {"_x", "b.eml"});
  if (fileLinks) files.insert(files.end(), {"dangling link", "file link"});
  files.insert(files.end(), {"no extension", "\xc3\xa9t\xc3\xa9.eml"});

  auto service = MakeDefaultFileSystem();
  const std::string folder = root.string() + kSep;
  EXPECT_EQ(service->SubFolders(folder), folders);
  EXPECT_EQ(service->Files(folder), files);
  // Files alone, without SubFolders first, gives the same answer.
  EXPECT_EQ(MakeDefaultFileSystem()->Files(folder), files);
}

TEST(DefaultFileSystem, AnswersForTheFolderAskedAboutEvenWhenAskedOutOfTurn) {
  TempDir dir;
  WriteFile(dir.path() / "A" / "a.eml", "x");
  WriteFile(dir.path() / "B" / "b.eml", "x");
  auto service = MakeDefaultFileSystem();
  const std::string a = dir.str() + "A" + kSep;
  const std::string b = dir.str() + "B" + kSep;

  EXPECT_TRUE(service->SubFolders(a).empty());
  EXPECT_EQ(service->Files(b), Names{"b.eml"});
  EXPECT_EQ(service->Files(a), Names{"a.eml"});
  EXPECT_EQ(service->Files(a), Names{"a.eml"});
}

TEST(DefaultFileSystem, ReportsFailuresWithFolderAndReason) {
  TempDir dir;
  WriteFile(dir.path() / "file", "x");
  const bool linked = os::MakeFolderLink(dir.str(), dir.str() + "link").ok();
  EXPECT_TRUE(linked || os::kWindows);
  auto service = MakeDefaultFileSystem();

  EXPECT_TRUE(service->FolderExists(dir.str()));
  EXPECT_EQ(service->FolderExists(dir.str() + "link"), linked);
  EXPECT_FALSE(service->FolderExists(dir.str() + "file"));
  EXPECT_FALSE(service->FolderExists(dir.str() + "missing"));
  EXPECT_FALSE(service->FolderExists(""));

  const std::string missing = dir.str() + "missing" + kSep;
  try {
    service->SubFolders(missing);
    FAIL() << "listing a missing folder succeeded";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.folder(), missing);
    if (os::kWindows) {
      EXPECT_FALSE(error.reason().empty());
    } else {
      EXPECT_EQ(error.reason(), std::strerror(ENOENT));
    }
  }
  EXPECT_THROW(service->Files(dir.str() + "file"), FileSystemError);

  if (linked) {
    EXPECT_EQ(service->Identity(dir.str()), service->Identity(dir.str() + "link" + kSep));
  }
  EXPECT_NE(service->Identity(dir.str()), service->Identity(dir.str() + "file"));
  EXPECT_FALSE(service->Identity(missing).has_value());
}

TEST(FolderWalkOnDisk, RootWithAndWithoutSeparatorGivesTheSameQueue) {
  TempDir dir;
  WriteFile(dir.path() / "Mail" / "1.eml", "x");
  WriteFile(dir.path() / "Mail" / "Inbox" / "2.eml", "x");
  FolderWalker walker;

  walker.Walk(dir.str() + "Mail");
  const PathQueueRef without = walker.queue();
  walker.Walk(dir.str() + "Mail" + kSep);

  const std::string mail = dir.str() + "Mail" + kSep;
  EXPECT_EQ(Names(without->begin(), without->end()),
            (Names{mail + "1.eml", mail + "Inbox" + kSep + "2.eml"}));
  EXPECT_EQ(Names(walker.queue()->begin(), walker.queue()->end()),
            Names(without->begin(), without->end()));
}

TEST(FolderWalkOnDisk, LinkLoopsEnd) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  WriteFile(root / "A" / "a.eml", "x");
  // One link back up: a walker that follows it fails on the platform's
  // link limit soon instead of running on for ever.
  MAKE_FOLDER_LINK("..", (root / "A" / "up").string());
  FolderWalker walker;

  walker.Walk(root.string());

  const std::string r = root.string() + kSep;
  EXPECT_EQ(Names(walker.queue()->begin(), walker.queue()->end()), Names{r + "A" + kSep + "a.eml"});
}

TEST(FolderWalkOnDisk, QueuesEveryFileOfTheSampleExportOnceInFolderOrder) {
  const fs::path corpus = test::CorpusRoot();
  if (corpus.empty()) GTEST_SKIP() << "the sample export is not present";

  std::set<std::string> onDisk;
  for (const auto& entry : fs::recursive_directory_iterator(corpus))
    if (!entry.is_directory()) onDisk.insert(entry.path().string());

  FolderWalker walker;
  walker.Walk(corpus.string());

  const PathQueue& queue = *walker.queue();
  EXPECT_EQ(queue.size(), onDisk.size());
  EXPECT_EQ(std::set<std::string>(queue.begin(), queue.end()), onDisk);

  // Breadth-first: a folder's files come together, and never after those
  // of a deeper folder.
  std::set<std::string> foldersDone;
  std::string folder;
  for (const std::string& name : queue) {
    const std::string parent = name.substr(0, name.rfind(kSep) + 1);
    if (parent == folder) continue;
    ASSERT_TRUE(foldersDone.insert(parent).second) << name << " is out of folder order";
    ASSERT_GE(std::count(parent.begin(), parent.end(), kSep),
              std::count(folder.begin(), folder.end(), kSep))
        << name << " comes after a deeper folder's files";
    folder = parent;
  }
}

}  // namespace
}  // namespace quillfen
