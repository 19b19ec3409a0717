#include "os/paths.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace quillfen {
namespace {

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

}  // namespace
}  // namespace quillfen
