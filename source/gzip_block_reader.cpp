#include "source/gzip_block_reader.h"

#include <zlib.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "os/file.h"
#include "os/status.h"
#include "os/thread.h"

#ifdef _WIN32
#include <io.h>
#define QUILLFEN_CLOSE _close
#else
#include <unistd.h>
#define QUILLFEN_CLOSE close
#endif

namespace quillfen {

namespace {

// Large blocks keep system calls and hand-overs between the threads few.
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
// Blocks in use at once: one with the caller, the rest decompressed ahead.
constexpr std::size_t kBlocks = 4;

// zlib's messages begin with its name for the file, which the caller names
// already. This runs on the decompressing thread, so the system's reason
// comes the thread-safe way.
std::string ZlibErrorText(gzFile_s* file, int code, const std::string& zlibName) {
  if (code == Z_BUF_ERROR) return "the compressed data ends too early";
  if (code == Z_ERRNO) return os::ErrnoReason(errno);
  int ignored = Z_OK;
  std::string text = gzerror(file, &ignored);
  if (text.compare(0, zlibName.size() + 2, zlibName + ": ") == 0)
    text.erase(0, zlibName.size() + 2);
  return text.empty() ? "the compressed data is damaged" : text;
}

}  // namespace

struct GzipBlockReader::Block {
  std::vector<char> bytes = std::vector<char>(kBlockSize);
  DecompressedBlock view;
};

// What the two threads share; the mutex guards everything but the blocks'
// contents, which belong to whichever side holds the block.
struct GzipBlockReader::Shared {
  std::vector<std::unique_ptr<Block>> blocks;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Block*> ready;  // decompressed, in file order
  std::vector<Block*> spare;
  bool stop = false;
  std::thread thread;
};

GzipBlockReader::GzipBlockReader(const std::string& path) : shared_(std::make_unique<Shared>()) {
  // The blocks come first: nothing after the file is opened may throw.
  for (std::size_t i = 0; i < kBlocks; ++i) {
    shared_->blocks.push_back(std::make_unique<Block>());
    shared_->spare.push_back(shared_->blocks.back().get());
  }
  int descriptor = -1;
  if (const os::Status status = os::OpenDescriptorForReading(path, descriptor); !status.ok())
    throw std::runtime_error(status.reason());
  // zlib names a file it was handed "<fd:N>" in its messages.
  zlibName_ = "<fd:" + std::to_string(descriptor) + ">";
  file_ = gzdopen(descriptor, "rb");
  if (file_ == nullptr) {
    QUILLFEN_CLOSE(descriptor);
    throw std::runtime_error("cannot open the file");
  }
  gzbuffer(file_, kBlockSize);
  try {
    shared_->thread = os::StartThread([this] { Produce(); });
  } catch (const std::system_error&) {
    // Without a second thread the caller decompresses each block itself.
  }
}

GzipBlockReader::~GzipBlockReader() {
  if (shared_->thread.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(shared_->mutex);
      shared_->stop = true;
    }
    shared_->changed.notify_all();
    shared_->thread.join();
  }
  gzclose(file_);
}

bool GzipBlockReader::Fill(Block& block) {
  DecompressedBlock& view = block.view;
  const int got = gzread(file_, block.bytes.data(), static_cast<unsigned>(block.bytes.size()));
  view.data = block.bytes.data();
  view.size = got > 0 ? static_cast<std::size_t>(got) : 0;
  view.error.clear();
  if (got > 0) {
    // One look at the file's offset per block costs nothing.
    view.compressedRead = static_cast<std::int64_t>(gzoffset(file_));
    return false;
  }
  int code = Z_OK;
  gzerror(file_, &code);
  // At the end of the file, Z_BUF_ERROR means the gzip data stopped in the
  // middle of a member: the file was cut short.
  if (got < 0 || code != Z_OK) view.error = ZlibErrorText(file_, code, zlibName_);
  return true;
}

void GzipBlockReader::Produce() {
  Shared& shared = *shared_;
  for (;;) {
    Block* block = nullptr;
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      shared.changed.wait(lock, [&shared] { return shared.stop || !shared.spare.empty(); });
      if (shared.stop) return;
      block = shared.spare.back();
      shared.spare.pop_back();
    }
    const bool last = Fill(*block);
    {
      const std::lock_guard<std::mutex> lock(shared.mutex);
      shared.ready.push_back(block);
    }
    shared.changed.notify_all();
    if (last) return;
  }
}

const DecompressedBlock& GzipBlockReader::Next() {
  if (finished_) return current_->view;
  Shared& shared = *shared_;
  if (!shared.thread.joinable()) {
    if (current_ == nullptr) current_ = shared.spare.back();
    finished_ = Fill(*current_);
    return current_->view;
  }
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    if (current_ != nullptr) shared.spare.push_back(current_);
    shared.changed.notify_all();
    shared.changed.wait(lock, [&shared] { return !shared.ready.empty(); });
    current_ = shared.ready.front();
    shared.ready.pop_front();
  }
  finished_ = current_->view.size == 0;
  return current_->view;
}

}  // namespace quillfen
