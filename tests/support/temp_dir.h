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

// The shared test corpus of real messages, or an empty path when absent.
std::filesystem::path CorpusRoot();

}  // namespace quillfen::test
