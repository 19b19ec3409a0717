#include "os/file.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "os/fault_injection.h"
#include "os/folders.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

using os::Failure;

std::int64_t SizeOf(const os::File& file) {
  std::int64_t size = -1;
  EXPECT_TRUE(file.Size(size).ok());
  return size;
}

TEST(File, AppendsTheBytesExactlyAsGiven) {
  test::TempDir dir;
  const std::string path = dir.str() + "Inbox.mbox";
  // Bare LF and CR LF must reach the disk as they are: a text-mode write
  // turns "\n" into "\r\n" on Windows and spoils every record.
  const std::string first = "From a\r\nline\nbare\r\r\n";
  const std::vector<std::string_view> pieces = {"x\n", "", "y\r\n", "z"};

  os::File file;
  bool created = false;
  ASSERT_TRUE(file.OpenForAppending(path, &created).ok());
  EXPECT_TRUE(created);
  ASSERT_TRUE(file.Append(first).ok());
  ASSERT_TRUE(file.Close().ok());

  ASSERT_TRUE(file.OpenForAppending(path, &created).ok());
  EXPECT_FALSE(created);
  std::size_t written = 0;
  ASSERT_TRUE(file.Append(pieces, &written).ok());
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(SizeOf(file), static_cast<std::int64_t>(first.size() + 6));
  ASSERT_TRUE(file.Flush().ok());
  // Later than 2020 and not in the future: the system's clock counts from
  // another epoch on Windows.
  std::int64_t modified = 0;
  ASSERT_TRUE(file.ModificationTime(modified).ok());
  EXPECT_GT(modified, 1577836800);
  EXPECT_LE(modified, static_cast<std::int64_t>(std::time(nullptr)) + 1);
  char last = 0;
  std::size_t count = 0;
  ASSERT_TRUE(file.ReadAt(SizeOf(file) - 1, &last, 1, count).ok());
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(last, 'z');
  ASSERT_TRUE(file.Close().ok());
  EXPECT_EQ(test::ReadFile(dir.path() / "Inbox.mbox"), first + "x\ny\r\nz");

  ASSERT_TRUE(file.OpenForReading(path).ok());
  std::string back(64, '\0');
  ASSERT_TRUE(file.Read(back.data(), back.size(), count).ok());
  back.resize(count);
  EXPECT_EQ(back, first + "x\ny\r\nz");
  ASSERT_TRUE(file.Close().ok());

  // By its bare name in the open folder, as the messages are opened.
  os::Folder folder;
  ASSERT_TRUE(folder.Open(dir.str()).ok());
  os::PathFacts opened;
  ASSERT_TRUE(file.OpenForReading(folder, "Inbox.mbox", &opened).ok());
  EXPECT_EQ(opened.size, static_cast<std::int64_t>(first.size() + 6));
  EXPECT_EQ(opened.modificationTime, modified);
  ASSERT_TRUE(file.Read(back.data(), 4, count).ok());
  EXPECT_EQ(back.substr(0, count), "From");
  ASSERT_TRUE(file.Close().ok());

  // Cut back by name, as a resumed conversion does with a mailbox it has
  // not opened.
  ASSERT_TRUE(os::CutBackFile(path, 7).ok());
  os::PathFacts facts;
  ASSERT_TRUE(os::Inspect(path, facts).ok());
  EXPECT_FALSE(facts.folder);
  EXPECT_EQ(facts.size, 7);
  EXPECT_GE(facts.modificationTime, modified);
}

TEST(File, PlantedFaultsFailOnlyTheCallsAndFilesTheyName) {
  test::TempDir dir;
  os::File mailbox;
  os::File other;
  ASSERT_TRUE(mailbox.OpenForAppending(dir.str() + "Inbox.mbox").ok());
  ASSERT_TRUE(other.OpenForAppending(dir.str() + "journal").ok());
  ASSERT_TRUE(mailbox.Append("kept\n").ok());
  {
    os::ScopedFaults faults({.pathPart = ".mbox", .bytesBeforeFullDisk = 4});
    // The disk fills during the write: the bytes before it are in the file.
    std::size_t written = 99;
    const os::Status full = mailbox.Append("record", &written);
    EXPECT_EQ(full.failure(), Failure::NoSpace);
    EXPECT_FALSE(full.reason().empty());
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(SizeOf(mailbox), 9);
    EXPECT_EQ(mailbox.Append("more").failure(), Failure::NoSpace);
    EXPECT_TRUE(other.Append("other file, other disk\n").ok());
    EXPECT_TRUE(mailbox.CutBack(5).ok());
  }
  {
    os::ScopedFaults faults({.pathPart = ".mbox", .failClose = true, .failCutBack = true});
    ASSERT_TRUE(mailbox.Append("half").ok());
    EXPECT_FALSE(mailbox.CutBack(5).ok());
    EXPECT_EQ(SizeOf(mailbox), 9);
    EXPECT_TRUE(other.CutBack(0).ok());
    EXPECT_FALSE(mailbox.Close().ok());
    EXPECT_FALSE(mailbox.isOpen());
    EXPECT_TRUE(other.Close().ok());
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "Inbox.mbox"), "kept\nhalf");
}

TEST(File, RefusesASecondLockAFolderAndAMissingFile) {
  test::TempDir dir;
  os::File first;
  os::File second;
  ASSERT_TRUE(first.OpenForAppending(dir.str() + "lock").ok());
  ASSERT_TRUE(second.OpenForAppending(dir.str() + "lock").ok());
  ASSERT_TRUE(first.LockExclusively().ok());
  EXPECT_EQ(second.LockExclusively().failure(), Failure::LockHeld);
  ASSERT_TRUE(first.Close().ok());
  EXPECT_TRUE(second.LockExclusively().ok());

  os::File file;
  EXPECT_EQ(file.OpenForReading(dir.str()).failure(), Failure::NotRegularFile);
  EXPECT_EQ(file.OpenForAppending(dir.str()).failure(), Failure::NotRegularFile);
  const os::Status missing = file.OpenForReading(dir.str() + "missing.eml");
  EXPECT_EQ(missing.failure(), Failure::NotFound);
  EXPECT_FALSE(missing.reason().empty());
  EXPECT_FALSE(file.isOpen());
}

}  // namespace
}  // namespace quillfen

namespace quillfen {
namespace {

// Below a chosen folder, a link is never followed, whatever the call: the
// folder it leads to stays untouched.
TEST(Below, LinksOnTheWayAreRefusedAndLeftAlone) {
  test::TempDir dir;
  const std::string root = dir.str() + "root";
  const std::string elsewhere = dir.str() + "elsewhere";
  ASSERT_TRUE(os::CreateFolders(root).ok());
  ASSERT_TRUE(os::CreateFolders(elsewhere).ok());
  if (const os::Status made = os::MakeFolderLink(elsewhere, root + "/link"); !made.ok())
    GTEST_SKIP() << "this system cannot make a link to a folder: " << made.reason();

  EXPECT_EQ(os::CreateFoldersBelow(root, "link/sub").failure(), os::Failure::Link);
  os::PathFacts facts;
  EXPECT_EQ(os::InspectBelow(root, "link", facts).failure(), os::Failure::Link);
  os::File file;
  EXPECT_EQ(file.OpenForAppendingBelow(root, "link/Inbox.mbox").failure(), os::Failure::Link);
  EXPECT_EQ(os::CutBackFileBelow(root, "link/Inbox.mbox", 0).failure(), os::Failure::Link);
  os::FolderListing listing;
  ASSERT_TRUE(os::ListFolder(elsewhere, listing).ok());
  EXPECT_TRUE(listing.subFolders.empty() && listing.others.empty());

  // The plain way works, and the chosen folder itself may be a link.
  ASSERT_TRUE(os::CreateFoldersBelow(root, "a/b").ok());
  ASSERT_TRUE(file.OpenForAppendingBelow(root, "a/b/x.mbox").ok());
  ASSERT_TRUE(os::InspectBelow(root, "a/b/x.mbox", facts).ok());
  EXPECT_FALSE(facts.folder);
  EXPECT_TRUE(file.OpenForAppendingBelow(root + "/link", "y.mbox").ok());
}

}  // namespace
}  // namespace quillfen
