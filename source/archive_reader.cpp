#include "source/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "mbox/message_failure.h"
#include "os/classic_locale.h"
#include "os/platform.h"
#include "source/gzip_block_reader.h"

namespace quillfen {

namespace {

struct ArchiveReadFree {
  void operator()(archive* a) const { archive_read_free(a); }
};

}  // namespace

// The file, decompressed by GzipBlockReader, under libarchive's tar reader; it does not
// move while libarchive holds a pointer to it.
struct ArchiveReader::Stream {
  std::unique_ptr<GzipBlockReader> file;
  // Why reading the file failed. Kept here because libarchive may replace
  // the reason a read callback gives with a vaguer one of its own.
  std::string readError;
  std::unique_ptr<archive, ArchiveReadFree> reader;  // released before file
  archive_entry* entry = nullptr;
  // The compressed bytes of the file read so far.
  std::int64_t compressedRead = 0;

  static la_ssize_t ReadBlock(archive* reader, void* data, const void** block) {
    Stream& stream = *static_cast<Stream*>(data);
    const DecompressedBlock& next = stream.file->Next();
    if (!next.error.empty()) {
      stream.readError = next.error;
      archive_set_error(reader, EIO, "%s", stream.readError.c_str());
      return ARCHIVE_FATAL;
    }
    if (next.size > 0) stream.compressedRead = next.compressedRead;
    *block = next.data;
    return static_cast<la_ssize_t>(next.size);
  }

  std::string ErrorText() const {
    if (!readError.empty()) return readError;
    const char* text = archive_error_string(reader.get());
    return text != nullptr && *text != '\0' ? text : "unknown error";
  }
};

class ArchiveReader::EntrySource : public MessageSource {
 public:
  EntrySource(const std::string& path, Stream& stream)
      : path_(path),
        stream_(stream),
        size_(archive_entry_size_is_set(stream.entry) ? archive_entry_size(stream.entry) : -1),
        modificationTime_(static_cast<long long>(archive_entry_mtime(stream.entry))) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    std::size_t filled = 0;
    while (filled < size) {
      if (chunkSize_ == 0 && !NextChunk()) break;
      std::size_t n = 0;
      if (offset_ < chunkOffset_) {
        // A hole of a sparse entry reads as zero bytes.
        n = static_cast<std::size_t>(std::min<std::int64_t>(
            chunkOffset_ - offset_, static_cast<std::int64_t>(size - filled)));
        std::memset(buffer + filled, 0, n);
      } else {
        n = std::min(chunkSize_, size - filled);
        std::memcpy(buffer + filled, chunk_, n);
        chunk_ += n;
        chunkSize_ -= n;
        chunkOffset_ += static_cast<std::int64_t>(n);
      }
      filled += n;
      offset_ += static_cast<std::int64_t>(n);
    }
    // A sparse entry that ends in a hole stops before its size: the rest
    // are zero bytes.
    if (atEnd_ && size_ > offset_ && filled < size) {
      const auto zeros = static_cast<std::size_t>(
          std::min<std::int64_t>(size_ - offset_, static_cast<std::int64_t>(size - filled)));
      std::memset(buffer + filled, 0, zeros);
      filled += zeros;
      offset_ += static_cast<std::int64_t>(zeros);
    }
    return filled;
  }

  // An entry whose bytes lie whole in the decompressed block at hand is
  // given from there, without a copy; any other is read in pieces, from
  // what this looked at on.
  bool Whole(std::string_view& bytes) override {
    if (offset_ != 0 || chunkSize_ != 0 || atEnd_ || size_ < 0) return false;
    if (!NextChunk()) {
      if (size_ != 0) return false;
      bytes = {};
      return true;
    }
    if (chunkOffset_ != 0 || static_cast<std::int64_t>(chunkSize_) != size_) return false;
    bytes = std::string_view(chunk_, chunkSize_);
    offset_ = size_;
    chunkOffset_ = size_;
    chunkSize_ = 0;
    return true;
  }
  long long FallbackTime() const override { return modificationTime_; }
  std::int64_t SizeHint() const override { return size_; }

 private:
  // The entry's next run of bytes as libarchive holds them; false at its
  // end.
  bool NextChunk() {
    if (atEnd_) return false;
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(stream_.reader.get(), &block, &size, &offset);
    if (status == ARCHIVE_EOF) {
      atEnd_ = true;
      return false;
    }
    if (status == ARCHIVE_FATAL) throw ArchiveError(path_, stream_.ErrorText());
    if (status != ARCHIVE_OK) throw MessageFailure("cannot read the entry: " + stream_.ErrorText());
    chunk_ = static_cast<const char*>(block);
    chunkSize_ = size;
    chunkOffset_ = offset;
    return true;
  }

  const std::string& path_;
  Stream& stream_;
  std::int64_t size_;
  long long modificationTime_;
  // The bytes given so far, holes included.
  std::int64_t offset_ = 0;
  // What libarchive gave last and was not read yet, and its place in the
  // entry.
  const char* chunk_ = nullptr;
  std::size_t chunkSize_ = 0;
  std::int64_t chunkOffset_ = 0;
  bool atEnd_ = false;
};

ArchiveError::ArchiveError(std::string archivePath, std::string reason)
    : std::runtime_error("cannot read the archive " + archivePath + ": " + reason),
      archivePath_(std::move(archivePath)),
      reason_(std::move(reason)) {}

ArchiveReader::ArchiveReader(const std::string& path)
    : path_(path), stream_(std::make_unique<Stream>()) {
  try {
    stream_->file = std::make_unique<GzipBlockReader>(path);
  } catch (const std::runtime_error& error) {
    throw ArchiveError(path, error.what());
  }
  stream_->reader.reset(archive_read_new());
  archive* reader = stream_->reader.get();
  if (reader == nullptr) throw ArchiveError(path, "out of memory");
  archive_read_support_filter_all(reader);
  archive_read_support_format_tar(reader);
  if (archive_read_open(reader, stream_.get(), nullptr, Stream::ReadBlock, nullptr) < ARCHIVE_WARN)
    throw ArchiveError(path, stream_->ErrorText());
}

ArchiveReader::~ArchiveReader() = default;

bool ArchiveReader::Next() {
  source_.reset();
  // The names are converted while the header is read, and again when asked
  // for: both in the classic locale, so that they do not depend on the
  // front end's.
  const os::ClassicLocale classic;
  archive_entry* entry = nullptr;
  const int status = archive_read_next_header(stream_->reader.get(), &entry);
  if (status == ARCHIVE_EOF) {
    stream_->entry = nullptr;
    return false;
  }
  if (status < ARCHIVE_WARN) throw ArchiveError(path_, stream_->ErrorText());
  stream_->entry = entry;
  // On POSIX, the name as stored where the locale allows it, as UTF-8
  // otherwise, so that extended headers with names outside the locale still
  // convert. On Windows, where the core spells every path in UTF-8, as
  // UTF-8 first: the locale's form is in the ANSI code page, whose bytes
  // are no UTF-8, and "Café" and "Cafe" with a combining accent came out of
  // it as one folder.
  const char* name =
      os::kWindows ? archive_entry_pathname_utf8(entry) : archive_entry_pathname(entry);
  if (name == nullptr)
    name = os::kWindows ? archive_entry_pathname(entry) : archive_entry_pathname_utf8(entry);
  entry_.name = name != nullptr ? name : "";
  entry_.link =
      archive_entry_hardlink(entry) != nullptr || archive_entry_filetype(entry) == AE_IFLNK;
  entry_.folder = archive_entry_filetype(entry) == AE_IFDIR && !entry_.link;
  entry_.regular = archive_entry_filetype(entry) == AE_IFREG;
  return true;
}

MessageSource& ArchiveReader::data() {
  if (!source_) source_ = std::make_unique<EntrySource>(path_, *stream_);
  return *source_;
}

void ArchiveReader::ReadToEnd() {
  const void* block = nullptr;
  la_ssize_t got = 0;
  do {
    got = Stream::ReadBlock(stream_->reader.get(), stream_.get(), &block);
  } while (got > 0);
  if (got < 0) throw ArchiveError(path_, stream_->ErrorText());
}

std::int64_t ArchiveReader::compressedRead() const {
  return stream_->compressedRead;
}

}  // namespace quillfen
