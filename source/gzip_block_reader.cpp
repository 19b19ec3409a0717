#include "source/gzip_block_reader.h"

#include <zlib.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "os/file.h"
#include "os/status.h"
#include "os/thread.h"

#ifdef QUILLFEN_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#ifdef _WIN32
#include <io.h>
#define QUILLFEN_CLOSE _close
#define QUILLFEN_DUP _dup
#define QUILLFEN_LSEEK _lseeki64
#else
#include <unistd.h>
#define QUILLFEN_CLOSE close
#define QUILLFEN_DUP dup
#define QUILLFEN_LSEEK lseek
#endif

namespace quillfen {

namespace {

// Large blocks keep system calls and hand-overs between the threads few.
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
// Blocks in use at once: one with the caller, the rest decompressed ahead.
constexpr std::size_t kBlocks = 4;

constexpr const char* kCutShort = "the compressed data ends too early";
constexpr const char* kDamaged = "the compressed data is damaged";

// zlib's messages begin with its name for the file, which the caller names
// already. This runs on the decompressing thread, so the system's reason
// comes the thread-safe way.
std::string ZlibErrorText(gzFile_s* file, int code, const std::string& zlibName) {
  if (code == Z_BUF_ERROR) return kCutShort;
  if (code == Z_ERRNO) return os::ErrnoReason(errno);
  int ignored = Z_OK;
  std::string text = gzerror(file, &ignored);
  if (text.compare(0, zlibName.size() + 2, zlibName + ": ") == 0)
    text.erase(0, zlibName.size() + 2);
  return text.empty() ? kDamaged : text;
}

// zlib names a file it was handed "<fd:N>" in its messages.
std::string ZlibName(int descriptor) {
  return "<fd:" + std::to_string(descriptor) + ">";
}

}  // namespace

class GzipBlockReader::Inflate {
 public:
  virtual ~Inflate() = default;
  // Fills view with the next bytes, at most capacity of them into out.
  // True when the block is the last one: size 0, at the end or with the
  // failure's error.
  virtual bool Fill(char* out, std::size_t capacity, DecompressedBlock& view) = 0;
};

namespace {

// gzread: zlib reads and checks the members itself, and passes a file that
// is not gzip through.
class ZlibInflate : public GzipBlockReader::Inflate {
 public:
  // Takes descriptor over, closing it even when this throws.
  explicit ZlibInflate(int descriptor) : zlibName_(ZlibName(descriptor)) {
    file_ = gzdopen(descriptor, "rb");
    if (file_ == nullptr) {
      QUILLFEN_CLOSE(descriptor);
      throw std::runtime_error("cannot open the file");
    }
    gzbuffer(file_, kBlockSize);
  }
  ~ZlibInflate() override { gzclose(file_); }

  bool Fill(char* out, std::size_t capacity, DecompressedBlock& view) override {
    const int got = gzread(file_, out, static_cast<unsigned>(capacity));
    view.data = out;
    view.size = got > 0 ? static_cast<std::size_t>(got) : 0;
    view.error.clear();
    if (got > 0) {
      // One look at the file's offset per block costs nothing.
      view.compressedRead = static_cast<std::int64_t>(gzoffset(file_));
      return false;
    }
    int code = Z_OK;
    gzerror(file_, &code);
    // At the end of the file, Z_BUF_ERROR means the gzip data stopped in
    // the middle of a member: the file was cut short.
    if (got < 0 || code != Z_OK) view.error = ZlibErrorText(file_, code, zlibName_);
    return true;
  }

 private:
  std::string zlibName_;
  gzFile_s* file_ = nullptr;
};

#ifdef QUILLFEN_HAVE_ISAL

// What zlib says of the damage in the file behind descriptor, read from its
// start through a second descriptor; empty when zlib finds none.
std::string ZlibDiagnosis(int descriptor) {
  const int copy = QUILLFEN_DUP(descriptor);
  if (copy < 0) return {};
  if (QUILLFEN_LSEEK(copy, 0, SEEK_SET) != 0) {
    QUILLFEN_CLOSE(copy);
    return {};
  }
  std::string text;
  try {
    ZlibInflate zlib(copy);
    std::vector<char> scratch(kBlockSize);
    DecompressedBlock view;
    while (!zlib.Fill(scratch.data(), scratch.size(), view)) {
    }
    text = view.error;
  } catch (const std::runtime_error&) {
  }
  // The second descriptor moved the first one's offset too, but nothing
  // reads the first one after a failure.
  return text;
}

// isal_inflate over blocks read from the file: the same members, CRCs and
// lengths as zlib's gzread, and the same pass-through of a file that is not
// gzip, in less than half the time.
class IsalInflate : public GzipBlockReader::Inflate {
 public:
  // Takes descriptor over.
  explicit IsalInflate(int descriptor)
      : descriptor_(descriptor),
        input_(kHeadroom + kBlockSize),
        state_(std::make_unique<inflate_state>()) {
    isal_inflate_init(state_.get());
    next_ = input_.data() + kHeadroom;
  }
  ~IsalInflate() override { QUILLFEN_CLOSE(descriptor_); }

  bool Fill(char* out, std::size_t capacity, DecompressedBlock& view) override {
    view.data = out;
    view.error.clear();
    std::size_t filled = 0;
    if (error_.empty()) filled = Inflate(reinterpret_cast<std::uint8_t*>(out), capacity);
    view.size = filled;
    view.compressedRead = fileRead_ - static_cast<std::int64_t>(available_);
    if (filled > 0) return false;
    view.error = error_;
    return true;
  }

 private:
  enum class Mode { Start, Raw, Member, BetweenMembers, End };

  // Room before the input for the bytes a finished member's bit buffer
  // (8 bytes at most) gives back: isal_inflate moves next_in back over
  // them, which may reach before the input read last.
  static constexpr std::size_t kHeadroom = 16;

  // Decompresses into out until it is full, the file ends or a failure
  // (kept in error_, to be given once the bytes before it were taken).
  std::size_t Inflate(std::uint8_t* out, std::size_t capacity) {
    std::size_t filled = 0;
    while (filled < capacity && mode_ != Mode::End) {
      switch (mode_) {
        case Mode::Start:
        case Mode::BetweenMembers:
          if (!Want(2)) return filled;
          if (available_ >= 2 && next_[0] == 0x1f && next_[1] == 0x8b) {
            isal_inflate_reset(state_.get());
            state_->crc_flag = ISAL_GZIP;
            mode_ = Mode::Member;
          } else {
            // Bytes after a member that begin no other are ignored, as zlib
            // ignores them; a file that does not begin as gzip is no gzip.
            mode_ = mode_ == Mode::Start ? Mode::Raw : Mode::End;
          }
          break;
        case Mode::Raw:
          if (!Raw(out, capacity, filled)) return filled;
          break;
        case Mode::Member:
          if (!Member(out, capacity, filled)) return filled;
          break;
        case Mode::End:
          break;
      }
    }
    return filled;
  }

  bool Raw(std::uint8_t* out, std::size_t capacity, std::size_t& filled) {
    if (available_ > 0) {
      const std::size_t n = std::min(available_, capacity - filled);
      std::memcpy(out + filled, next_, n);
      next_ += n;
      available_ -= n;
      filled += n;
      return true;
    }
    std::size_t got = 0;
    if (!ReadFile(out + filled, capacity - filled, got)) return false;
    if (got == 0) mode_ = Mode::End;
    filled += got;
    return true;
  }

  bool Member(std::uint8_t* out, std::size_t capacity, std::size_t& filled) {
    if (available_ == 0 && !atFileEnd_ && !Want(1)) return false;
    inflate_state& state = *state_;
    state.next_in = next_;
    state.avail_in = static_cast<std::uint32_t>(available_);
    state.next_out = out + filled;
    state.avail_out = static_cast<std::uint32_t>(capacity - filled);
    const int status = isal_inflate(&state);
    const std::size_t produced = capacity - filled - state.avail_out;
    filled += produced;
    next_ = state.next_in;
    available_ = state.avail_in;
    if (status < 0) {
      Fail(ZlibDiagnosis(descriptor_));
      return false;
    }
    if (state.block_state == ISAL_BLOCK_FINISH) {
      // The bit buffer may hold whole bytes past the member's end: they
      // begin whatever follows it.
      const std::size_t held = static_cast<std::size_t>(state.read_in_length) / 8;
      next_ -= held;
      for (std::size_t i = 0; i < held; ++i)
        next_[i] = static_cast<std::uint8_t>(state.read_in >> (8 * i));
      available_ += held;
      mode_ = Mode::BetweenMembers;
      return true;
    }
    if (produced == 0 && available_ == 0 && atFileEnd_) {
      // The file ended in the middle of a member.
      Fail(kCutShort);
      return false;
    }
    return true;
  }

  // Makes at least count bytes of input available, unless the file ends
  // first. False after a failure to read.
  bool Want(std::size_t count) {
    while (available_ < count && !atFileEnd_) {
      // What is left moves to the front, and the bytes before it into the
      // headroom: a member that ends after the refill may give back bytes
      // it took into its bit buffer before it.
      std::uint8_t* front = input_.data() + kHeadroom;
      if (next_ != front) std::memmove(input_.data(), next_ - kHeadroom, kHeadroom + available_);
      next_ = front;
      std::size_t got = 0;
      if (!ReadFile(front + available_, kBlockSize - available_, got)) return false;
      if (got == 0) atFileEnd_ = true;
      available_ += got;
    }
    return true;
  }

  bool ReadFile(std::uint8_t* into, std::size_t size, std::size_t& got) {
    for (;;) {
#ifdef _WIN32
      const int n = _read(descriptor_, into, static_cast<unsigned>(size));
#else
      const ssize_t n = read(descriptor_, into, size);
#endif
      if (n >= 0) {
        got = static_cast<std::size_t>(n);
        fileRead_ += n;
        return true;
      }
      if (errno == EINTR) continue;
      Fail(os::ErrnoReason(errno));
      return false;
    }
  }

  void Fail(std::string reason) {
    error_ = reason.empty() ? kDamaged : std::move(reason);
    mode_ = Mode::End;
  }

  int descriptor_;
  std::vector<std::uint8_t> input_;
  std::uint8_t* next_ = nullptr;
  std::size_t available_ = 0;
  std::int64_t fileRead_ = 0;
  bool atFileEnd_ = false;
  Mode mode_ = Mode::Start;
  std::string error_;
  std::unique_ptr<inflate_state> state_;
};

#endif  // QUILLFEN_HAVE_ISAL

}  // namespace

bool GzipInflaterAvailable(GzipInflater inflater) {
#ifdef QUILLFEN_HAVE_ISAL
  (void)inflater;
  return true;
#else
  return inflater == GzipInflater::Zlib;
#endif
}

GzipInflater FastestGzipInflater() {
  return GzipInflaterAvailable(GzipInflater::Isal) ? GzipInflater::Isal : GzipInflater::Zlib;
}

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

GzipBlockReader::GzipBlockReader(const std::string& path, GzipInflater inflater)
    : shared_(std::make_unique<Shared>()) {
  // The blocks come first: nothing after the file is opened may throw.
  for (std::size_t i = 0; i < kBlocks; ++i) {
    shared_->blocks.push_back(std::make_unique<Block>());
    shared_->spare.push_back(shared_->blocks.back().get());
  }
  int descriptor = -1;
  if (const os::Status status = os::OpenDescriptorForReading(path, descriptor); !status.ok())
    throw std::runtime_error(status.reason());
#ifdef QUILLFEN_HAVE_ISAL
  if (inflater == GzipInflater::Isal) {
    try {
      inflate_ = std::make_unique<IsalInflate>(descriptor);
    } catch (...) {
      QUILLFEN_CLOSE(descriptor);
      throw;
    }
  }
#else
  (void)inflater;
#endif
  if (!inflate_) inflate_ = std::make_unique<ZlibInflate>(descriptor);
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
}

bool GzipBlockReader::Fill(Block& block) {
  return inflate_->Fill(block.bytes.data(), block.bytes.size(), block.view);
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
