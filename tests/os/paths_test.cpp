#include "os/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;

struct PathExample {
  const char* path;
  const char* name;
  const char* parent;
};

// The same cases spelled with backslashes (Windows style) and with slashes
// (POSIX style); in each style the other separator is an ordinary character.
constexpr PathExample kWindowsExamples[] = {
    {"C:\\Mail\\Inbox\\1.eml", "1.eml", "C:\\Mail\\Inbox\\"},
    {"C:\\Mail\\Inbox\\", "", "C:\\Mail\\Inbox\\"},
    {"C:\\Mail\\Inbox", "Inbox", "C:\\Mail\\"},
    {"C:\\a\\b\\c.eml", "c.eml", "C:\\a\\b\\"},
    {"1.eml", "1.eml", ""},
    {"C:/Mail/1.eml", "C:/Mail/1.eml", ""},
    {"\\", "", "\\"},
};

constexpr PathExample kPosixExamples[] = {
    {"/Mail/Inbox/1.eml", "1.eml", "/Mail/Inbox/"},
    {"/Mail/Inbox/", "", "/Mail/Inbox/"},
    {"/Mail/Inbox", "Inbox", "/Mail/"},
    {"/a/b/c.eml", "c.eml", "/a/b/"},
    {"1.eml", "1.eml", ""},
    {"\\Mail\\1.eml", "\\Mail\\1.eml", ""},
    {"/", "", "/"},
};

void CheckExamples(const PathExample* begin, const PathExample* end, PathStyle style) {
  for (const PathExample* e = begin; e != end; ++e) {
    SCOPED_TRACE(e->path);
    EXPECT_EQ(ExtractFileName(e->path, style), e->name);
    EXPECT_EQ(ExtractParentPath(e->path, style), e->parent);
    EXPECT_EQ(ExtractParentPath(e->path, style) + ExtractFileName(e->path, style), e->path);
  }
}

TEST(PathHelpers, SplitsPathsAtTheLastSeparatorInBothStyles) {
  CheckExamples(std::begin(kWindowsExamples), std::end(kWindowsExamples), PathStyle::Windows());
  CheckExamples(std::begin(kPosixExamples), std::end(kPosixExamples), PathStyle::Posix());
}

TEST(PathHelpers, EmptyPathIsOutOfRange) {
  for (PathStyle style : {PathStyle::Windows(), PathStyle::Posix()}) {
    EXPECT_THROW(ExtractFileName("", style), std::out_of_range);
    EXPECT_THROW(ExtractParentPath("", style), std::out_of_range);
  }
}

TEST(EnsureDirectory, CreatesTheWholeChainWithOrWithoutTrailingSeparator) {
  test::TempDir dir;

  EXPECT_TRUE(EnsureDirectory(dir.str() + "a/b/c"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
  EXPECT_TRUE(EnsureDirectory(dir.str() + "x/y/z/"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "x" / "y" / "z"));

  // A chain that exists already is left as it is, contents included.
  test::WriteFile(dir.path() / "a" / "b" / "c" / "Inbox.mbox", "kept");
  EXPECT_TRUE(EnsureDirectory(dir.str() + "a/b/c/"));
  EXPECT_TRUE(EnsureDirectory(dir.str() + "a/b/c"));
  EXPECT_EQ(test::ReadFile(dir.path() / "a" / "b" / "c" / "Inbox.mbox"), "kept");
}

TEST(EnsureDirectory, GivesFalseWhenTheFolderCannotBeMade) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "file", "x");

  // A file where the folder, or a folder above it, should be.
  EXPECT_FALSE(EnsureDirectory(dir.str() + "file"));
  EXPECT_FALSE(EnsureDirectory(dir.str() + "file/"));
  EXPECT_FALSE(EnsureDirectory(dir.str() + "file/below/"));
  EXPECT_EQ(test::ReadFile(dir.path() / "file"), "x");

  // A name longer than the file system allows.
  EXPECT_FALSE(EnsureDirectory(dir.str() + std::string(300, 'n') + "/"));

  // No permission to write in the parent (the superuser has it anyway).
  if (::geteuid() != 0) {
    fs::create_directory(dir.path() / "locked");
    fs::permissions(dir.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(EnsureDirectory(dir.str() + "locked/inner/"));
    fs::permissions(dir.path() / "locked", fs::perms::owner_all);
  }
}

}  // namespace
}  // namespace quillfen
