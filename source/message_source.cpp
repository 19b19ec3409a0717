#include "source/message_source.h"

#include <string_view>

#include "mbox/message_failure.h"
#include "os/paths.h"

namespace quillfen {

const os::Folder* MessageFolder::Of(const std::string& path) {
  const std::size_t slash = path.rfind(PathStyle::Native().separator);
  if (slash == std::string::npos) return nullptr;
  name_.assign(path, slash + 1);
  const std::string_view folder(path.data(), slash + 1);
  if (folder != folder_ || !open_.isOpen()) {
    folder_.assign(folder);
    // A folder that cannot be opened is tried again with its next message.
    if (!open_.Open(folder_).ok()) folder_.clear();
  }
  return open_.isOpen() ? &open_ : nullptr;
}

MessageFile::MessageFile(const std::string& path, MessageFolder* folder) {
  const os::Folder* at = folder != nullptr ? folder->Of(path) : nullptr;
  os::PathFacts facts;
  const os::Status status = at != nullptr ? file_.OpenForReading(*at, folder->name(), &facts)
                                          : file_.OpenForReading(path, &facts);
  if (!status.ok())
    throw MessageFailure(status.failure() == os::Failure::NotRegularFile
                             ? std::string("the message is not a regular file")
                             : "cannot open the message: " + status.reason());
  modificationTime_ = static_cast<long long>(facts.modificationTime);
  size_ = facts.size;
}

std::size_t MessageFile::Read(char* buffer, std::size_t size) {
  std::size_t got = 0;
  if (const os::Status status = file_.Read(buffer, size, got); !status.ok())
    throw MessageFailure("cannot read the message: " + status.reason());
  return got;
}

}  // namespace quillfen
