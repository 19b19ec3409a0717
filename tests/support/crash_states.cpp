#include "tests/support/crash_states.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace quillfen::test {

namespace fs = std::filesystem;

namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A file of the simulated disk: its bytes as written, and the ranges
// appended since it was last flushed.
struct SimulatedFile {
  std::string bytes;
  std::vector<std::pair<std::size_t, std::size_t>> unflushed;
  bool nameFlushed = true;
};

}  // namespace

ChangeRecorder::ChangeRecorder(fs::path folder)
    : folder_(WithoutTrailingSlashes(folder.string()) + "/") {
  os::ObserveChanges(this);
}

ChangeRecorder::~ChangeRecorder() {
  os::ObserveChanges(nullptr);
}

void ChangeRecorder::Changed(const os::Change& change) {
  RecordedChange kept;
  kept.kind = change.kind;
  kept.length = change.length;
  if (change.kind != os::Change::Kind::FlushAll) {
    const std::string path = WithoutTrailingSlashes(std::string(change.path));
    if (path.compare(0, folder_.size(), folder_) != 0) {
      // The folder itself (made or flushed), or something elsewhere.
      if (path + "/" != folder_) return;
    } else {
      kept.path = path.substr(folder_.size());
    }
  }
  for (const std::string_view piece : change.bytes) kept.bytes.append(piece);
  changes_.push_back(std::move(kept));
}

FolderState ReadFolderState(const fs::path& folder) {
  FolderState state;
  if (!fs::exists(folder)) return state;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_directory()) {
      state.folders.insert(relative);
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      state.files[relative].assign(std::istreambuf_iterator<char>(in), {});
    }
  }
  return state;
}

void BuildCrashState(const FolderState& before, const std::vector<RecordedChange>& changes,
                     std::size_t count, const fs::path& into, std::mt19937& rng, bool keepAll) {
  std::map<std::string, SimulatedFile> files;
  std::set<std::string> folders = before.folders;
  for (const auto& [path, bytes] : before.files) files[path].bytes = bytes;
  for (std::size_t i = 0; i < count && i < changes.size(); ++i) {
    const RecordedChange& change = changes[i];
    using Kind = os::Change::Kind;
    switch (change.kind) {
      case Kind::MakeFolder:
        for (std::string folder = change.path; !folder.empty(); folder = ParentOf(folder))
          folders.insert(folder);
        break;
      case Kind::Create:
        files[change.path] = SimulatedFile{{}, {}, false};
        break;
      case Kind::Append: {
        SimulatedFile& file = files[change.path];
        file.unflushed.emplace_back(file.bytes.size(), file.bytes.size() + change.bytes.size());
        file.bytes += change.bytes;
        break;
      }
      case Kind::CutBack: {
        SimulatedFile& file = files[change.path];
        const auto length = static_cast<std::size_t>(change.length);
        file.bytes.resize(length, '\0');
        auto& ranges = file.unflushed;
        ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                                    [length](const auto& range) { return range.first >= length; }),
                     ranges.end());
        for (auto& range : ranges) range.second = std::min(range.second, length);
        break;
      }
      case Kind::Remove:
        files.erase(change.path);
        break;
      case Kind::Flush:
        files[change.path].unflushed.clear();
        break;
      case Kind::FlushFolder:
        for (auto& [path, file] : files)
          if (ParentOf(path) == change.path) file.nameFlushed = true;
        break;
      case Kind::FlushAll:
        for (auto& [path, file] : files) {
          file.unflushed.clear();
          file.nameFlushed = true;
        }
        break;
    }
  }
  fs::remove_all(into);
  fs::create_directories(into);
  for (const std::string& folder : folders) fs::create_directories(into / folder);
  for (auto& [path, file] : files) {
    if (!keepAll && !file.nameFlushed && rng() % 4 == 0) continue;
    std::string bytes = file.bytes;
    if (!keepAll) {
      for (const auto& [start, end] : file.unflushed) {
        const unsigned choice = rng() % 4;
        if (choice == 0 || start >= end) continue;  // kept
        if (choice == 1) {
          std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                    bytes.begin() + static_cast<std::ptrdiff_t>(end), '\0');
        } else if (choice == 2) {
          bytes.resize(start + rng() % (end - start));
          break;
        } else {
          bytes.resize(start);
          break;
        }
      }
    }
    fs::create_directories((into / path).parent_path());
    std::ofstream out(into / path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (into / path).string());
  }
}

}  // namespace quillfen::test
