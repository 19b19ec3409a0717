#include "tests/support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

#include "os/platform.h"

namespace quillfen::test {

TempDir::TempDir() {
  // A random name that nobody holds yet: creating the folder is the test,
  // as only one creator of a name succeeds. Works the same on Windows,
  // which has no mkdtemp.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("quillfen-test-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

namespace {

// On Windows, path in its "\\?\" form, which names files as they are:
// longer than 260 characters (which the plain form cuts short, and Wine
// then finds another file by), or with names Windows would change
// ("Kept.", which the core can create). Elsewhere path itself.
std::filesystem::path Exact(const std::filesystem::path& path) {
#ifdef _WIN32
  std::error_code ignored;
  std::filesystem::path whole = std::filesystem::absolute(path, ignored);
  return L"\\\\?\\" + whole.make_preferred().wstring();
#else
  return path;
#endif
}

}  // namespace

TempDir::~TempDir() {
  // In the exact form: otherwise, on Windows, the C++ library asks for
  // "Kept" and loops over the "Kept." it cannot remove.
  std::error_code ignored;
  std::filesystem::remove_all(Exact(path_), ignored);
}

std::string TempDir::str() const {
  std::string s = Utf8(path_);
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (s.empty() || s.back() != separator) s += separator;
  return s;
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(Exact(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Utf8(path));
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(Exact(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Utf8(path));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path PathOf(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string RootedPath(std::string_view belowRoot) {
  std::string path = std::string(os::kWindows ? "C:\\" : "/") + std::string(belowRoot);
  if (os::kWindows) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::filesystem::path CorpusRoot() {
  std::filesystem::path root =
      std::filesystem::path(QUILLFEN_SOURCE_DIR) / ".." / "shared" / "corpus" / "zimbra-export";
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) return {};
  return std::filesystem::weakly_canonical(root, ec);
}

}  // namespace quillfen::test
