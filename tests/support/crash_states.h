#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "os/change_observer.h"

namespace quillfen::test {

// A change the file calls made below a folder, kept.
struct RecordedChange {
  os::Change::Kind kind = os::Change::Kind::Append;
  std::string path;  // relative to the folder; empty for FlushAll
  std::string bytes;
  std::int64_t length = 0;
};

// Records, while it lives, every change made below folder, in order.
class ChangeRecorder : public os::ChangeObserver {
 public:
  explicit ChangeRecorder(std::filesystem::path folder);
  ~ChangeRecorder() override;
  ChangeRecorder(const ChangeRecorder&) = delete;
  ChangeRecorder& operator=(const ChangeRecorder&) = delete;

  void Changed(const os::Change& change) override;
  const std::vector<RecordedChange>& changes() const { return changes_; }

 private:
  std::string folder_;  // ending with the separator
  std::vector<RecordedChange> changes_;
};

// What a folder holds: its files with their bytes and its folders, by path
// relative to it.
struct FolderState {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
};
FolderState ReadFolderState(const std::filesystem::path& folder);

// Writes into into (made afresh) a state that a crash right after the first
// count changes could leave of a folder that held before when they began.
// What was flushed is there as it was written. Each write since its file's
// last flush may, by rng's choice, have been kept, lost with every later
// one, cut at a random byte, or left as zeros, as file systems that delay
// writing leave them; a file created since its folder was last flushed may
// be missing. Cutting back, removing and making folders count as done.
// With keepAll, everything is kept: the state a killed process leaves.
void BuildCrashState(const FolderState& before, const std::vector<RecordedChange>& changes,
                     std::size_t count, const std::filesystem::path& into, std::mt19937& rng,
                     bool keepAll);

}  // namespace quillfen::test
