#include "os/read_ahead.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

// The files this process holds open now.
std::size_t OpenFiles() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// The window holds what it announced until let go, never more than its
// capacity, and leaves nothing open: a file it kept would last the whole
// conversion and count against the mailboxes' share of the limit.
TEST(ReadAheadWindow, HoldsAtMostItsCapacityAndClosesEveryFile) {
  test::TempDir dir;
  for (const char* name : {"1.eml", "3.eml", "4.eml", "5.eml", "6.eml", "7.eml"})
    test::WriteFile(dir.path() / name, "Subject: x\r\n\r\nbody\r\n");
  const std::string folder = dir.str();
  const std::size_t before = OpenFiles();
  {
    os::ReadAheadWindow window(3, 0);
    ASSERT_EQ(window.capacity(), 3u);
    window.Add(1, folder + "1.eml", 1 << 20);
    window.Add(2, folder + "2.eml", 1 << 20);  // missing: nothing held
    window.Add(3, folder + "3.eml", 1 << 20);
    window.Add(4, folder + "4.eml", 1 << 20);
    window.Add(5, folder + "5.eml", 1 << 20);  // full: refused
    EXPECT_EQ(window.size(), 3u);
    EXPECT_EQ(OpenFiles(), before + 3 + 1);  // and the folder
    window.LetGoBefore(4);
    EXPECT_EQ(window.size(), 1u);
    // Round the ring's end.
    window.Add(6, folder + "6.eml", 1 << 20);
    window.Add(7, folder + "7.eml", 1 << 20);
    EXPECT_EQ(window.size(), 3u);
    EXPECT_EQ(OpenFiles(), before + 3 + 1);
    window.LetGoBefore(7);
    EXPECT_EQ(OpenFiles(), before + 1 + 1);
  }
  EXPECT_EQ(OpenFiles(), before);
}

// Under a low limit of open files the window shrinks, down to nothing, so the
// mailboxes still open.
TEST(ReadAheadWindow, LeavesTheReservedFilesRoomUnderTheLimit) {
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit low = saved;
  low.rlim_cur = 200;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const std::size_t some = os::ReadAheadWindow(32, 190).capacity();
  const std::size_t none = os::ReadAheadWindow(32, 250).capacity();
  const std::size_t most = os::ReadAheadWindow(32, 100).capacity();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(some, 10u);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(most, 32u);
}

}  // namespace
}  // namespace quillfen
