#include <gtest/gtest.h>

#include <set>
#include <string>

#include "destination/mirror_paths.h"
#include "mbox/message_failure.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

constexpr PathStyle kWin = PathStyle::Windows();
constexpr PathStyle kPosix = PathStyle::Posix();

FolderExistsFunction Existing(std::set<std::string> folders) {
  return [folders = std::move(folders)](const std::string& folder) {
    return folders.count(folder) > 0;
  };
}

TEST(MirrorFolder, DropsTheRootPrefixInEachStyle) {
  struct Case {
    PathStyle style;
    std::string root, source, mirror, mbox;
  };
  const Case cases[] = {
      {kWin, "D:\\Out\\", "C:\\Exports\\Mail\\Inbox\\1001.eml", "D:\\Out\\Exports\\Mail\\Inbox\\",
       "D:\\Out\\Exports\\Mail\\Inbox\\Inbox.mbox"},
      // A message in a drive's root mirrors to the destination root itself.
      {kWin, "D:\\Out\\", "C:\\1001.eml", "D:\\Out\\", "D:\\Out\\Out.mbox"},
      // Exactly three characters go, whatever the path looks like.
      {kWin, "D:\\Out\\", "\\\\server\\share\\Mail\\Inbox\\1001.eml",
       "D:\\Out\\erver\\share\\Mail\\Inbox\\", "D:\\Out\\erver\\share\\Mail\\Inbox\\Inbox.mbox"},
      {kPosix, "/out/", "/home/ann/Mail/Inbox/1.eml", "/out/home/ann/Mail/Inbox/",
       "/out/home/ann/Mail/Inbox/Inbox.mbox"},
      {kPosix, "/out/", "/1.eml", "/out/", "/out/out.mbox"},
      // A root given without its separator still gets one.
      {kPosix, "/out", "/Mail/Sent Items/1.eml", "/out/Mail/Sent Items/",
       "/out/Mail/Sent Items/Sent Items.mbox"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string mirror = MirrorFolderFor(c.source, c.root, c.style, Existing({}));
    EXPECT_EQ(mirror, c.mirror);
    EXPECT_EQ(MboxFileFor(mirror, c.style), c.mbox);
  }
}

TEST(MirrorFolder, FailsWhenNoMirrorCanBeDerived) {
  EXPECT_THROW(MirrorFolderFor("1001.eml", "/out/", kPosix), MessageFailure);
  EXPECT_THROW(MirrorFolderFor("", "/out/", kPosix), MessageFailure);
  // Without a destination the mailbox would land relative to the current folder.
  EXPECT_THROW(MirrorFolderFor("/Mail/1.eml", "", kPosix), MessageFailure);
  EXPECT_THROW(MboxFileFor("", kPosix), MessageFailure);
  EXPECT_THROW(MboxFileFor("/", kPosix), MessageFailure);
}

TEST(MirrorFolder, BatchFolderJoinsItsSiblingWhenThatExists) {
  const auto exists = Existing({"/x/Mail/Inbox/", "C:\\Mail\\Inbox\\", "/x/Mail/a!b/"});
  struct Case {
    PathStyle style;
    std::string source, mirror;
  };
  const Case cases[] = {
      {kPosix, "/x/Mail/Inbox!1/9.eml", "/out/x/Mail/Inbox/"},
      {kPosix, "/x/Mail/Inbox!12/9.eml", "/out/x/Mail/Inbox/"},
      // Only the last "!" separates the batch number.
      {kPosix, "/x/Mail/a!b!2/9.eml", "/out/x/Mail/a!b/"},
      // The sibling is missing: the folder keeps its own name.
      {kPosix, "/x/Mail/Sent!1/9.eml", "/out/x/Mail/Sent!1/"},
      // Not a batch number.
      {kPosix, "/x/Mail/Inbox!0/9.eml", "/out/x/Mail/Inbox!0/"},
      {kPosix, "/x/Mail/Inbox!01/9.eml", "/out/x/Mail/Inbox!01/"},
      {kPosix, "/x/Mail/Inbox!x/9.eml", "/out/x/Mail/Inbox!x/"},
      {kPosix, "/x/Mail/Inbox!/9.eml", "/out/x/Mail/Inbox!/"},
      {kPosix, "/x/Mail/Inbox!1x/9.eml", "/out/x/Mail/Inbox!1x/"},
      {kPosix, "/x/Mail/!1/9.eml", "/out/x/Mail/!1/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(MirrorFolderFor(c.source, "/out/", c.style, exists), c.mirror);
  }
  EXPECT_EQ(MirrorFolderFor("C:\\Mail\\Inbox!3\\9.eml", "D:\\Out\\", kWin, exists),
            "D:\\Out\\Mail\\Inbox\\");
}

TEST(MirrorFolder, BatchRuleLooksAtTheRealTreeByDefault) {
  test::TempDir tree;
  std::filesystem::create_directories(tree.path() / "Inbox");
  std::filesystem::create_directories(tree.path() / "Inbox!1");
  std::filesystem::create_directories(tree.path() / "Sent!1");
  const std::string below = tree.str().substr(1);
  EXPECT_EQ(MirrorFolderFor(tree.str() + "Inbox!1/1.eml", "/out/", kPosix),
            "/out/" + below + "Inbox/");
  EXPECT_EQ(MirrorFolderFor(tree.str() + "Sent!1/1.eml", "/out/", kPosix),
            "/out/" + below + "Sent!1/");
}

}  // namespace
}  // namespace quillfen
