#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillfen::test {

// A fresh folder below the system's temporary folder, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder's path as a string ending with the separator.
  std::string str() const;

 private:
  std::filesystem::path path_;
};

// Writes bytes to path, creating the folders above it.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
// The file's whole content; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// The UTF-8 spelling of path, as the core takes paths, and the path that a
// UTF-8 spelling names. On Windows std::filesystem would read and write a
// narrow string in the system's code page instead.
std::string Utf8(const std::filesystem::path& path);
std::filesystem::path PathOf(std::string_view utf8);

// An absolute path as this system spells one, for a path below the root
// written with "/": "/x/Inbox/1.eml", or "C:\x\Inbox\1.eml" on Windows.
std::string RootedPath(std::string_view belowRoot);

// The shared test corpus of real messages, or an empty path when absent.
std::filesystem::path CorpusRoot();

}  // namespace quillfen::test
