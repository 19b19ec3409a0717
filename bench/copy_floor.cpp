// The byte-copy floor of a conversion: what converting an export would cost
// if it did nothing but copy bytes.
//
//   copy_floor [--batched] SOURCE DEST
//
// Walks SOURCE and, for every .eml file, appends a fixed From line, the
// file's bytes and CR LF to the same mirror .mbox path that quillfen-cli
// writes (the source folder's path without its leading "/", below DEST; a
// batch folder "<name>!N" goes into the mailbox of its sibling "<name>").
// Each mailbox is opened and closed once per message, as the conversion
// does. Nothing is parsed, quoted or sorted, one buffer serves every file and
// each record leaves in one writev, so this is the least any conversion of
// the same tree into the same files can cost.
//
// --batched is the floor of a writer that keeps each mailbox open for the
// whole run and gathers a folder's records into writes of about 1 MiB: the
// same records in the same files, still nothing parsed or quoted.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFromLine = "From MAILER-DAEMON Thu Jan 01 00:00:00 1970\r\n";
constexpr std::string_view kLineEnd = "\r\n";

std::runtime_error Failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

bool IsMessage(std::string_view name) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.size() < 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'e' && (tail[2] | 0x20) == 'm' &&
         (tail[3] | 0x20) == 'l';
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder (ending with "/") whose mailbox a source folder's messages go
// into: the folder itself, or for "<name>!N" the sibling "<name>" when it
// exists.
std::string MailFolderOf(const std::string& folder) {
  const std::string withoutSlash = folder.substr(0, folder.size() - 1);
  const std::size_t slash = withoutSlash.rfind('/');
  const std::size_t bang = withoutSlash.rfind('!');
  if (bang == std::string::npos || slash == std::string::npos || bang <= slash + 1 ||
      bang + 1 == withoutSlash.size() || withoutSlash[bang + 1] == '0')
    return folder;
  for (std::size_t i = bang + 1; i < withoutSlash.size(); ++i)
    if (withoutSlash[i] < '0' || withoutSlash[i] > '9') return folder;
  const std::string sibling = withoutSlash.substr(0, bang) + "/";
  return IsFolder(sibling) ? sibling : folder;
}

class Copier {
 public:
  Copier(std::string destination, bool batched)
      : destination_(std::move(destination)), batched_(batched) {}
  ~Copier() {
    for (const auto& [path, fd] : open_) ::close(fd);
  }

  // Breadth-first over the tree below root (ending with "/").
  void Run(const std::string& root) {
    std::deque<std::string> folders{root};
    while (!folders.empty()) {
      const std::string folder = std::move(folders.front());
      folders.pop_front();
      std::vector<std::string> messages;
      List(folder, folders, messages);
      if (!messages.empty()) CopyFolder(folder, messages);
    }
  }

  long messages() const { return messages_; }
  long long bytes() const { return bytes_; }

 private:
  void List(const std::string& folder, std::deque<std::string>& folders,
            std::vector<std::string>& messages) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) throw Failure("cannot list", folder);
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      bool isFolder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK)
        isFolder = IsFolder(folder + std::string(name));
      if (isFolder)
        folders.push_back(folder + std::string(name) + "/");
      else if (IsMessage(name))
        messages.push_back(folder + std::string(name));
    }
  }

  void CopyFolder(const std::string& folder, const std::vector<std::string>& messages) {
    const std::string mailFolder = MailFolderOf(folder);
    const std::string mirror = destination_ + mailFolder.substr(1);
    std::error_code ec;
    fs::create_directories(mirror, ec);
    const std::string withoutSlash = mailFolder.substr(0, mailFolder.size() - 1);
    const std::string mailbox = mirror + withoutSlash.substr(withoutSlash.rfind('/') + 1) + ".mbox";
    for (const std::string& message : messages) {
      const std::size_t size = Read(message);
      if (batched_)
        Gather(mailbox, size);
      else
        Append(mailbox, size);
      ++messages_;
      bytes_ += static_cast<long long>(size);
    }
    if (batched_) Flush(mailbox);
  }

  // Adds the record to the mailbox's batch, writing the batch first when
  // the record would take it past 1 MiB.
  void Gather(const std::string& mailbox, std::size_t size) {
    constexpr std::size_t kBatch = 1 << 20;
    if (!batch_.empty() && batch_.size() + kFromLine.size() + size + kLineEnd.size() > kBatch)
      Flush(mailbox);
    batch_.append(kFromLine);
    batch_.append(buffer_.get(), size);
    batch_.append(kLineEnd);
  }

  void Flush(const std::string& mailbox) {
    if (batch_.empty()) return;
    auto [at, added] = open_.try_emplace(mailbox, -1);
    if (added) {
      at->second = ::open(mailbox.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (at->second < 0) throw Failure("cannot open", mailbox);
    }
    if (::write(at->second, batch_.data(), batch_.size()) != static_cast<ssize_t>(batch_.size()))
      throw Failure("cannot write", mailbox);
    batch_.clear();
  }

  // Reads the whole file into buffer_; returns its length.
  std::size_t Read(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Failure("cannot open", path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw Failure("cannot stat", path);
    Reserve(static_cast<std::size_t>(info.st_size) + 1, 0);
    std::size_t filled = 0;
    for (;;) {
      if (filled == capacity_) Reserve(capacity_ * 2, filled);
      const ssize_t got = ::read(fd, buffer_.get() + filled, capacity_ - filled);
      if (got < 0) throw Failure("cannot read", path);
      if (got == 0) break;
      filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return filled;
  }

  void Append(const std::string& mailbox, std::size_t size) {
    const int fd = ::open(mailbox.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw Failure("cannot open", mailbox);
    iovec pieces[3] = {{const_cast<char*>(kFromLine.data()), kFromLine.size()},
                       {buffer_.get(), size},
                       {const_cast<char*>(kLineEnd.data()), kLineEnd.size()}};
    const ssize_t expected = static_cast<ssize_t>(kFromLine.size() + size + kLineEnd.size());
    if (::writev(fd, pieces, 3) != expected) throw Failure("cannot write", mailbox);
    if (::close(fd) != 0) throw Failure("cannot close", mailbox);
  }

  // Grows the buffer to at least size bytes without zero-filling it, keeping
  // its first `keep` bytes (a file that grew while it was read).
  void Reserve(std::size_t size, std::size_t keep) {
    if (size <= capacity_) return;
    auto grown = std::make_unique_for_overwrite<char[]>(size);
    if (keep > 0) std::memcpy(grown.get(), buffer_.get(), keep);
    buffer_ = std::move(grown);
    capacity_ = size;
  }

  std::string destination_;
  bool batched_ = false;
  std::map<std::string, int> open_;
  std::string batch_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  long messages_ = 0;
  long long bytes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const bool batched = argc == 4 && std::string_view(argv[1]) == "--batched";
  if (argc != 3 && !batched) {
    std::fprintf(stderr, "usage: copy_floor [--batched] SOURCE DEST\n");
    return 2;
  }
  try {
    std::string source = fs::absolute(argv[argc - 2]).lexically_normal().string();
    std::string destination = fs::absolute(argv[argc - 1]).lexically_normal().string();
    if (source.back() != '/') source += '/';
    if (destination.back() != '/') destination += '/';
    Copier copier(destination, batched);
    copier.Run(source);
    std::printf("copied %ld messages (%.1f MiB)\n", copier.messages(),
                static_cast<double>(copier.bytes()) / (1 << 20));
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "copy_floor: %s\n", error.what());
    return 1;
  }
}
