#include "source/path_logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/source/memory_file_system.h"

namespace quillfen {
namespace {

using test::MemoryFileSystem;

// Records what the walker tells its front end, in order.
class RecordingObserver : public ScanObserver {
 public:
  void SetCountLabel(const std::string& text) override { events.push_back("label " + text); }
  void Yield() override {
    events.push_back("yield");
    if (onYield) onYield();
  }
  std::vector<std::string> events;
  std::function<void()> onYield;
};

template <typename T>
std::vector<T> Values(const KeyedList<T>& list) {
  return std::vector<T>(list.begin(), list.end());
}

template <typename T>
std::vector<std::string> Keys(const KeyedList<T>& list) {
  std::vector<std::string> keys;
  for (std::int32_t i = 1; i <= list.Count(); ++i) keys.emplace_back(list.Key(i));
  return keys;
}

pathLogger::FileSystemFactory Serving(const MemoryFileSystem& fs) {
  return [fs] { return std::make_unique<MemoryFileSystem>(fs); };
}

std::string Label(int k) {
  return "label " + std::to_string(k) + " Files(s) Queued For Conversion";
}

TEST(PathLogger, QueuesFolderFilesThenSubfolderFilesWithKeysLabelsAndYields) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"a", "b"});
  fs.AddFolder("/r/S/", {"c"});
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');

  walker.PathLogInit();
  walker.LogPath("/r");

  EXPECT_EQ(walker.Count(), 3);
  EXPECT_EQ(Values(*walker.pathNames()), (std::vector<std::string>{"/r/", "/r/S/"}));
  EXPECT_EQ(Keys(*walker.pathNames()), (std::vector<std::string>{"K0", "K2"}));
  EXPECT_EQ(Values(*walker.fullFileNames()), (std::vector<std::string>{"/r/a", "/r/b", "/r/S/c"}));
  EXPECT_EQ(Keys(*walker.fullFileNames()), (std::vector<std::string>{"K1", "K2", "K3"}));
  EXPECT_TRUE(walker.fileNames()->Empty());
  EXPECT_TRUE(walker.pathPointers()->Empty());

  // One yield at the start of each folder's pass, one before each subfolder
  // and one before each file; the label right after each file is queued.
  const std::vector<std::string> expected = {
      "yield",  // pass over /r/
      "yield",  // subfolder S
      "yield", Label(1), "yield", Label(2),
      "yield",  // pass over /r/S/
      "yield", Label(3),
  };
  EXPECT_EQ(observer.events, expected);
}

TEST(PathLogger, VisitsFoldersLevelByLevelInListingOrder) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"z.eml"});
  fs.AddFolder("/r/B/", {"b2", "b1"});  // listed first: the walker keeps listing order
  fs.AddFolder("/r/A/", {"a1"});
  fs.AddFolder("/r/B/B1/", {"deep"});
  fs.AddFolder("/r/A/A1/", {"a11"});
  pathLogger walker(nullptr, Serving(fs), '/');

  walker.PathLogInit();
  walker.LogPath("/r/");

  EXPECT_EQ(Values(*walker.pathNames()),
            (std::vector<std::string>{"/r/", "/r/B/", "/r/A/", "/r/B/B1/", "/r/A/A1/"}));
  EXPECT_EQ(Keys(*walker.pathNames()), (std::vector<std::string>{"K0", "K2", "K3", "K4", "K5"}));
  // Every file of a folder comes before any file of the next folder, and
  // the files of A (second level) before those of B1 (third level).
  EXPECT_EQ(Values(*walker.fullFileNames()),
            (std::vector<std::string>{"/r/z.eml", "/r/B/b2", "/r/B/b1", "/r/A/a1", "/r/B/B1/deep",
                                      "/r/A/A1/a11"}));
  EXPECT_EQ(walker.Count(), walker.fullFileNames()->Count());
}

TEST(PathLogger, DetailedModeKeepsItsThreeListsInStepAndLeavesTheLabelAlone) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"x"});
  fs.AddFolder("/r/A/", {"a1", "a2"});
  fs.AddFolder("/r/B/");
  fs.AddFolder("/r/B/C/", {"c1", ".hidden", "no extension"});
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');

  walker.PathLogInit();
  walker.fullFileNamesOnly(false);
  walker.LogPath("/r/");

  const auto& paths = *walker.pathNames();
  const auto& names = *walker.fileNames();
  const auto& full = *walker.fullFileNames();
  const auto& pointers = *walker.pathPointers();
  ASSERT_EQ(walker.Count(), 6);
  ASSERT_EQ(names.Count(), 6);
  ASSERT_EQ(full.Count(), 6);
  ASSERT_EQ(pointers.Count(), 6);
  for (std::int32_t k = 1; k <= walker.Count(); ++k) {
    const std::string key = "K" + std::to_string(k);
    EXPECT_EQ(names.Key(k), key);
    EXPECT_EQ(full.Key(k), key);
    EXPECT_EQ(pointers.Key(k), key);
    EXPECT_EQ(full.Item(k), paths.Item(pointers.Item(k)) + names.Item(k)) << "file " << k;
  }
  EXPECT_EQ(Values(pointers), (std::vector<std::int32_t>{1, 2, 2, 4, 4, 4}));
  for (const std::string& event : observer.events) EXPECT_EQ(event, "yield");
}

TEST(PathLogger, FoldersWithoutFilesQueueNothingAndWriteNoLabel) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/");
  fs.AddFolder("/r/A/");
  fs.AddFolder("/r/A/B/");
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');

  walker.PathLogInit();
  walker.LogPath("/r/");

  EXPECT_EQ(walker.Count(), 0);
  EXPECT_TRUE(walker.fullFileNames()->Empty());
  EXPECT_EQ(Values(*walker.pathNames()), (std::vector<std::string>{"/r/", "/r/A/", "/r/A/B/"}));
  EXPECT_EQ(observer.events, (std::vector<std::string>(5, "yield")));
}

TEST(PathLogger, MissingRootChangesNothing) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"a"});
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');
  walker.PathLogInit();
  const auto full = walker.fullFileNames();

  walker.LogPath("/nowhere/");

  EXPECT_EQ(walker.Count(), 0);
  EXPECT_TRUE(full->Empty());
  EXPECT_TRUE(walker.pathNames()->Empty());
  EXPECT_TRUE(observer.events.empty());
  EXPECT_EQ(fs.listings(), 0);
}

TEST(PathLogger, ListingFailureStopsTheWalkAndKeepsWhatWasQueued) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"r1"});
  fs.AddFolder("/r/A/", {"a1", "a2"});
  fs.AddFolder("/r/B/", {"b1"});
  fs.AddFolder("/r/C/", {"c1"});
  fs.FailListing(3, "Permission denied");  // the third folder listed: /r/B/
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');
  walker.PathLogInit();

  try {
    walker.LogPath("/r/");
    FAIL() << "the failed listing was not reported";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.folder(), "/r/B/");
    EXPECT_EQ(error.reason(), "Permission denied");
  }

  EXPECT_EQ(walker.Count(), 3);
  EXPECT_EQ(Values(*walker.fullFileNames()),
            (std::vector<std::string>{"/r/r1", "/r/A/a1", "/r/A/a2"}));
  EXPECT_EQ(walker.pathNames()->Count(), 4);  // every folder of the root was recorded
  EXPECT_EQ(observer.events.back(), "yield");
  EXPECT_EQ(observer.events[observer.events.size() - 2], Label(3));
}

TEST(PathLogger, UsageErrorsAreReportedAndQueueNothingMore) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"a"});
  pathLogger walker(nullptr, Serving(fs), '/');

  // Never prepared: there is no file-system service yet.
  EXPECT_THROW(walker.LogPath("/r/"), std::logic_error);

  walker.PathLogInit();
  walker.LogPath("/r/");
  // A second walk without PathLogInit meets the root's key K0 again.
  EXPECT_THROW(walker.LogPath("/r/"), std::logic_error);
  EXPECT_EQ(walker.Count(), 1);
  EXPECT_EQ(walker.fullFileNames()->Count(), 1);
  EXPECT_EQ(walker.pathNames()->Count(), 1);

  walker.Terminate();
  EXPECT_THROW(walker.LogPath("/r/"), std::logic_error);
}

TEST(PathLogger, FolderReachedAgainThroughALinkIsNeitherRecordedNorWalked) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"top"});
  fs.AddFolder("/r/A/", {"a1"});
  fs.AddLink("/r/A/up/", "/r/");      // back to the root
  fs.AddLink("/r/A/self/", "/r/A/");  // to itself
  fs.AddLink("/r/B/", "/r/A/");       // a second name for a folder already recorded
  fs.AddLink("/r/C/", "/x/");         // leaves the tree: walked once, under its link name
  fs.AddFolder("/x/", {"outside"});
  pathLogger walker(nullptr, Serving(fs), '/');

  walker.PathLogInit();
  walker.LogPath("/r/");

  EXPECT_EQ(Values(*walker.pathNames()), (std::vector<std::string>{"/r/", "/r/A/", "/r/C/"}));
  EXPECT_EQ(Keys(*walker.pathNames()), (std::vector<std::string>{"K0", "K2", "K3"}));
  EXPECT_EQ(Values(*walker.fullFileNames()),
            (std::vector<std::string>{"/r/top", "/r/A/a1", "/r/C/outside"}));
}

TEST(PathLogger, RootFormsKeepTheCallersSpellingWithOneSeparator) {
  MemoryFileSystem fs;
  fs.AddFolder("/", {"a.eml"});
  fs.AddFolder("/S/", {"b.eml"});
  fs.AddFolder("/Mail/", {"m"});
  pathLogger walker(nullptr, Serving(fs), '/');

  // The file-system root: no doubled separator anywhere.
  walker.PathLogInit();
  walker.LogPath("/");
  EXPECT_EQ(Values(*walker.pathNames()), (std::vector<std::string>{"/", "/S/", "/Mail/"}));
  EXPECT_EQ(walker.fullFileNames()->Item(1), "/a.eml");
  EXPECT_EQ(walker.fullFileNames()->Item(2), "/S/b.eml");

  // With and without the trailing separator the lists are the same.
  walker.PathLogInit();
  walker.LogPath("/Mail");
  const auto without = walker.fullFileNames();
  walker.PathLogInit();
  walker.LogPath("/Mail/");
  EXPECT_EQ(Values(*walker.fullFileNames()), Values(*without));
  EXPECT_EQ(Values(*without), std::vector<std::string>{"/Mail/m"});

  EXPECT_EQ(pathLogger(nullptr, {}, '/').AddTrailingBackslash(""), "/");
}

TEST(PathLogger, ListsHandedOutSurviveTerminateAndASecondCycleStartsAfresh) {
  MemoryFileSystem fs;
  fs.AddFolder("/one/", {"a", "b"});
  fs.AddFolder("/two/", {"c"});
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');
  EXPECT_FALSE(walker.fullFileNamesOnly());
  EXPECT_EQ(walker.Count(), 0);

  walker.PathLogInit();
  EXPECT_TRUE(walker.fullFileNamesOnly());
  const QueueListRef first = walker.fullFileNames();  // taken before the walk
  walker.LogPath("/one/");
  EXPECT_EQ(first, walker.fullFileNames());  // the very list the walk filled
  walker.Terminate();
  EXPECT_EQ(walker.Count(), 2);  // Count and the mode outlive Terminate
  EXPECT_TRUE(walker.fullFileNamesOnly());
  EXPECT_TRUE(walker.fullFileNames()->Empty());  // the walker's own lists are gone

  observer.events.clear();
  walker.PathLogInit();
  walker.LogPath("/two/");
  const QueueListRef second = walker.fullFileNames();
  walker.Terminate();

  EXPECT_EQ(Values(*first), (std::vector<std::string>{"/one/a", "/one/b"}));
  EXPECT_EQ(Values(*second), std::vector<std::string>{"/two/c"});
  EXPECT_EQ(second->Key(1), "K1");
  EXPECT_EQ(walker.Count(), 1);
  EXPECT_EQ(observer.events.back(), Label(1));
}

TEST(PathLogger, RestartFromInsideAYieldFailsCleanly) {
  MemoryFileSystem fs;
  fs.AddFolder("/r/", {"a", "b", "c"});
  RecordingObserver observer;
  pathLogger walker(&observer, Serving(fs), '/');
  walker.PathLogInit();
  const QueueListRef queue = walker.fullFileNames();
  int yields = 0;
  observer.onYield = [&] {
    if (++yields == 3) walker.PathLogInit();  // before the second file
  };

  // The walk keeps the service and lists it started with, so nothing is
  // pulled away from under it; the restarted count then clashes with the
  // keys already given out and the walk stops.
  EXPECT_THROW(walker.LogPath("/r/"), std::logic_error);
  EXPECT_EQ(Values(*queue), std::vector<std::string>{"/r/a"});
}

}  // namespace
}  // namespace quillfen
