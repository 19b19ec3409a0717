#include "os/file.h"

#include <utility>
#include <vector>

#include "os/change_observer.h"
#include "os/planted_faults.h"

// The parts of File that are the same on every platform: the planted faults
// are consulted here, the platform's calls sit behind AppendNow, CutBackNow
// and CloseNow.
namespace quillfen::os {

Folder::~Folder() {
  Close();
}

Folder::Folder(Folder&& other) noexcept
    : open_(std::exchange(other.open_, false)),
      handle_(std::exchange(other.handle_, -1)),
      path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    open_ = std::exchange(other.open_, false);
    handle_ = std::exchange(other.handle_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

File::~File() {
  if (isOpen()) (void)CloseNow();
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (isOpen()) (void)CloseNow();
    handle_ = std::exchange(other.handle_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Status File::Append(std::span<const std::string_view> pieces, std::size_t* written) {
  std::size_t total = 0;
  for (const std::string_view piece : pieces) total += piece.size();
  const std::size_t allowed = planted::AppendAllowance(path_, total);
  std::size_t done = 0;
  Status status = AppendNow(pieces, allowed, done);
  planted::CountAppended(path_, done);
  if (done > 0 && observed::Watching()) {
    // Only the bytes that reached the file.
    std::vector<std::string_view> reached;
    std::size_t left = done;
    for (const std::string_view piece : pieces) {
      if (left == 0) break;
      reached.push_back(piece.substr(0, left));
      left -= reached.back().size();
    }
    observed::Tell(Change::Kind::Append, path_, 0, reached);
  }
  if (status.ok() && done < total) status = planted::FullDisk();
  if (written != nullptr) *written = done;
  return status;
}

Status File::CutBack(std::int64_t length) {
  if (auto fault = planted::CutBackFault(path_)) return *fault;
  Status status = CutBackNow(length);
  if (status.ok()) observed::Tell(Change::Kind::CutBack, path_, length);
  return status;
}

Status File::Close() {
  if (!isOpen()) return Status();
  std::optional<Status> fault = planted::CloseFault(path_);
  Status status = CloseNow();
  return fault ? *fault : status;
}

}  // namespace quillfen::os
