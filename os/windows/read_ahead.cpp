#include "os/read_ahead.h"

namespace quillfen::os {

// Windows takes no hint that a file is about to be read: its cache reads
// ahead within a file only, once the reading has begun. The window holds
// nothing.
ReadAheadWindow::ReadAheadWindow(std::size_t most, std::size_t reserved) {
  (void)most;
  (void)reserved;
}

ReadAheadWindow::~ReadAheadWindow() = default;

void ReadAheadWindow::Add(std::int32_t key, const std::string& path, std::int64_t bytes) {
  (void)key;
  (void)path;
  (void)bytes;
}

void ReadAheadWindow::LetGoBefore(std::int32_t key) {
  (void)key;
}

std::int64_t ReadAheadWindow::DiskReadSinceAsked() {
  return 0;
}

void ReadAheadWindow::CloseOldest() {}

}  // namespace quillfen::os
