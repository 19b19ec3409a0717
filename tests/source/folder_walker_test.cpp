#include "source/folder_walker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/source/memory_file_system.h"

namespace quillfen {
namespace {

using test::MemoryFileSystem;
using Names = std::vector<std::string>;

// Keeps the running counts the walker tells, files and messages.
class Counts : public ScanObserver {
 public:
  void Queued(std::int32_t files, std::int32_t messages) override {
    counts.emplace_back(files, messages);
  }
  void Yield() override {}
  std::vector<std::pair<std::int32_t, std::int32_t>> counts;
};

FolderWalker::FileSystemFactory Serving(const MemoryFileSystem& fs) {
  return [fs] { return std::make_unique<MemoryFileSystem>(fs); };
}

Names Queued(const FolderWalker& walker) {
  return Names(walker.queue()->begin(), walker.queue()->end());
}

TEST(FolderWalker, QueuesFoldersLevelByLevelInListingOrderWithARunningCount) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"z.eml"});
  fs.AddFolder("/r/B/", {"b2", "b1"});  // listed first: the walker keeps listing order
  fs.AddFolder("/r/A/", {"a1"});
  fs.AddFolder("/r/B/B1/", {"deep"});
  fs.AddFolder("/r/A/A1/", {"a11"});
  fs.AddFolder("/r/E/");
  Counts observer;
  FolderWalker walker(&observer, Serving(fs), '/');

  walker.Walk("/r");

  // Every file of a folder comes before any file of the next folder, and
  // the files of A (second level) before those of B1 (third level).
  EXPECT_EQ(Queued(walker),
            (Names{"/r/z.eml", "/r/B/b2", "/r/B/b1", "/r/A/a1", "/r/B/B1/deep", "/r/A/A1/a11"}));
  // Only the .eml files are messages.
  ASSERT_EQ(observer.counts.size(), 6u);
  EXPECT_EQ(observer.counts.front(), std::make_pair(1, 1));
  EXPECT_EQ(observer.counts[1], std::make_pair(2, 1));
  EXPECT_EQ(observer.counts.back(), std::make_pair(6, 1));

  // A missing root queues nothing; a new walk starts a new queue.
  const PathQueueRef first = walker.queue();
  walker.Walk("/nowhere/");
  EXPECT_TRUE(walker.queue()->empty());
  EXPECT_EQ(first->size(), 6u);
}

// By default a folder that cannot be listed ends the walk; a walk told to
// go on records it and still queues every folder after it, and the next
// walk starts with no record.
TEST(FolderWalker, ListingFailureStopsTheWalkOrIsRecordedAndPassed) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"r1"});
  fs.AddFolder("/r/A/", {"a1", "a2"});
  fs.AddFolder("/r/B/", {"b1"});
  fs.AddFolder("/r/B/B1/", {"b11"});
  fs.AddFolder("/r/C/", {"c1"});
  fs.FailListing(3, "Permission denied");  // the third folder listed: /r/B/
  FolderWalker walker(nullptr, Serving(fs), '/');

  try {
    walker.Walk("/r/");
    FAIL() << "the failed listing was not reported";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.folder(), "/r/B/");
    EXPECT_EQ(error.reason(), "Permission denied");
  }
  EXPECT_EQ(Queued(walker), (Names{"/r/r1", "/r/A/a1", "/r/A/a2"}));
  EXPECT_TRUE(walker.unreadableFolders().empty());

  walker.SetGoOnPastUnreadableFolders(true);
  fs.FailListing(3, "Permission denied");
  walker.Walk("/r/");
  EXPECT_EQ(Queued(walker), (Names{"/r/r1", "/r/A/a1", "/r/A/a2", "/r/C/c1"}));
  ASSERT_EQ(walker.unreadableFolders().size(), 1u);
  EXPECT_EQ(walker.unreadableFolders()[0].folder(), "/r/B/");
  EXPECT_EQ(walker.unreadableFolders()[0].reason(), "Permission denied");

  walker.Walk("/r/");
  EXPECT_EQ(Queued(walker).size(), 6u);
  EXPECT_TRUE(walker.unreadableFolders().empty());
}

TEST(FolderWalker, FolderReachedAgainThroughALinkIsWalkedOnce) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"top"});
  fs.AddFolder("/r/A/", {"a1"});
  fs.AddLink("/r/A/up/", "/r/");      // back to the root
  fs.AddLink("/r/A/self/", "/r/A/");  // to itself
  fs.AddLink("/r/B/", "/r/A/");       // a second name for a folder already met
  fs.AddLink("/r/C/", "/x/");         // leaves the tree: walked once, under its link name
  fs.AddFolder("/x/", {"outside"});
  FolderWalker walker(nullptr, Serving(fs), '/');

  walker.Walk("/r/");

  EXPECT_EQ(Queued(walker), (Names{"/r/top", "/r/A/a1", "/r/C/outside"}));
}

TEST(FolderWalker, RootFormsKeepTheCallersSpellingWithOneSeparator) {
  MemoryFileSystem fs;
  fs.AddFolder("/", {"a.eml"});
  fs.AddFolder("/S/", {"b.eml"});
  fs.AddFolder("/Mail/", {"m"});
  FolderWalker walker(nullptr, Serving(fs), '/');

  // The file-system root: no doubled separator anywhere.
  walker.Walk("/");
  EXPECT_EQ(Queued(walker), (Names{"/a.eml", "/S/b.eml", "/Mail/m"}));
  walker.Walk("/Mail");
  EXPECT_EQ(Queued(walker), Names{"/Mail/m"});
}

// Paths that share prefixes of every length with the one before, some with
// NUL bytes, and one larger than a storage block.
Names AwkwardPaths() {
  Names values;
  std::string folder = "/export/Inbox/";
  for (int k = 0; k < 5000; ++k) {
    if (k % 700 == 0) folder = "/export/F" + std::to_string(k) + "/";
    std::string name = folder + std::to_string(k * 7919 % 100000) + ".eml";
    if (k % 3 == 0) name += ".meta";
    if (k % 97 == 0) name = name.substr(0, name.size() / 2);
    if (k == 2500) name = std::string(300 * 1024, 'x');
    if (k == 2501) name.push_back('\0');
    if (k == 2502) name.clear();
    values.push_back(name);
  }
  return values;
}

TEST(PathQueue, PathsComeBackExactlyInOrder) {
  const Names values = AwkwardPaths();
  PathQueue queue;
  for (const std::string& value : values) queue.push_back(value);
  EXPECT_EQ(queue.size(), values.size());
  EXPECT_EQ(Names(queue.begin(), queue.end()), values);
}

TEST(PathQueue, AGrowingQueueIsReadWhileItIsFilled) {
  // Readers keep pace with the writer, wait for it at the last path, and
  // end only once the queue is closed.
  const Names values = AwkwardPaths();
  PathQueue queue(PathQueue::Growth::Growing);
  Names read[2];
  std::thread readers[2];
  for (int r = 0; r < 2; ++r)
    readers[r] = std::thread([&queue, &into = read[r]] {
      for (const std::string& path : queue) into.push_back(path);
    });
  for (std::size_t k = 0; k < values.size(); ++k) {
    queue.push_back(values[k]);
    if (k % 500 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(queue.closed());
  queue.Close();
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(read[0], values);
  EXPECT_EQ(read[1], values);
}

}  // namespace
}  // namespace quillfen
