#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "os/file.h"
#include "os/folders.h"
#include "os/paths.h"
#include "source/folder_walker.h"
#include "tests/support/temp_dir.h"

// Names that the platform's older calls get wrong: UTF-8 names (Windows'
// narrow calls take them in the ANSI code page), a folder name ending in a
// space (Windows' usual path handling drops it) and a path longer than 260
// characters. The folders are made with os::CreateFolders, the files with the
// seam's append, and the walker must find each file under its exact name.
namespace quillfen {
namespace {

using Names = std::vector<std::string>;

constexpr char kSep = PathStyle::Native().separator;

void PutFile(const std::string& path, std::string_view bytes) {
  os::File file;
  ASSERT_TRUE(file.OpenForAppending(path).ok()) << path;
  ASSERT_TRUE(file.Append(bytes).ok()) << path;
  ASSERT_TRUE(file.Close().ok()) << path;
}

TEST(FolderNames, Utf8TrailingSpaceAndLongPathsAreMadeAndWalked) {
  test::TempDir dir;
  const std::string root = dir.str() + "Mail" + kSep;
  const std::string transfers =
      "\xc3\x9c"
      "berweisungen";                                    // Überweisungen
  const std::string japan = "\xe6\x97\xa5\xe6\x9c\xac";  // 日本
  std::string deep = root + "deep";
  while (deep.size() < 300) deep += kSep + std::string(40, 'd');

  for (const std::string& folder : {root + transfers, root + japan, root + "Inbox ", deep})
    ASSERT_TRUE(os::CreateFolders(AddTrailingSeparator(folder)).ok()) << folder;
  PutFile(root + transfers + kSep + "1.eml", "a");
  PutFile(root + japan + kSep + japan + ".eml", "b");
  PutFile(root + "Inbox " + kSep + "2.eml", "c");
  PutFile(deep + kSep + "3.eml", "d");

  // Seen from outside the seam: the UTF-8 names are the real names, not
  // their bytes taken in some code page.
  const std::filesystem::path utf8Root = dir.path() / "Mail";
  EXPECT_TRUE(
      std::filesystem::is_directory(utf8Root / std::u8string(transfers.begin(), transfers.end())));
  EXPECT_TRUE(
      std::filesystem::is_regular_file(utf8Root / std::u8string(japan.begin(), japan.end()) /
                                       std::u8string(japan.begin(), japan.end()).append(u8".eml")));

  EXPECT_TRUE(os::IsFolder(root + "Inbox "));
  EXPECT_FALSE(os::IsFolder(root + "Inbox"));
  EXPECT_TRUE(os::IsFolder(deep));

  FolderWalker walker;
  walker.Walk(root);
  const Names queue(walker.queue()->begin(), walker.queue()->end());
  EXPECT_EQ(queue, (Names{root + "Inbox " + kSep + "2.eml", root + transfers + kSep + "1.eml",
                          root + japan + kSep + japan + ".eml", deep + kSep + "3.eml"}));

  // The file under the longest path reads back through the seam.
  os::File file;
  ASSERT_TRUE(file.OpenForReading(deep + kSep + "3.eml").ok());
  char byte = 0;
  std::size_t count = 0;
  ASSERT_TRUE(file.Read(&byte, 1, count).ok());
  EXPECT_EQ(byte, 'd');
}

}  // namespace
}  // namespace quillfen
