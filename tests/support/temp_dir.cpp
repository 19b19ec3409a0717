#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quillfen::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillfen-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::str() const {
  std::string s = path_.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path CorpusRoot() {
  std::filesystem::path root =
      std::filesystem::path(QUILLFEN_SOURCE_DIR) / ".." / "shared" / "corpus" / "zimbra-export";
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) return {};
  return std::filesystem::weakly_canonical(root, ec);
}

}  // namespace quillfen::test
