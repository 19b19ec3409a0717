#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillfen {

// One block of a file's decompressed bytes, valid until the next block is
// asked for.
struct DecompressedBlock {
  const char* data = nullptr;
  // 0 at the end of the file and when reading failed.
  std::size_t size = 0;
  // Why reading failed (a damaged or cut gzip stream, a read error); empty
  // otherwise.
  std::string error;
  // The bytes of the file read up to and including this block.
  std::int64_t compressedRead = 0;
};

// What undoes the gzip compression. zlib is the reference and is there in
// every build; ISA-L inflates the same bytes in less than half zlib's time,
// where the build found it (Linux with libisal-dev).
enum class GzipInflater { Zlib, Isal };

// Whether this build can inflate with inflater.
bool GzipInflaterAvailable(GzipInflater inflater);
// The fastest inflater this build has.
GzipInflater FastestGzipInflater();

// Reads a gzip-compressed file in blocks of decompressed bytes; a file that
// is not gzip-compressed passes through unchanged. Every gzip member's CRC
// and length are checked, so damage anywhere in the file is reported;
// members follow one another as one stream, and bytes after the last member
// that do not begin another are ignored, as gzip itself does. Whichever
// inflater reads, the bytes and the failures' texts are zlib's: when ISA-L
// finds damage, zlib reads the file again to say what it is.
//
// A thread of its own decompresses a few blocks ahead of the caller, so that
// decompressing and using the bytes each take a core; where no thread can be
// started, blocks are decompressed on the caller's thread when asked for.
class GzipBlockReader {
 public:
  // Opens path. Throws std::runtime_error with the reason (the system's,
  // without the path) when the file cannot be opened. An inflater this
  // build lacks is replaced by zlib.
  explicit GzipBlockReader(const std::string& path, GzipInflater inflater = FastestGzipInflater());
  // Stops the thread, even in the middle of the file, and closes the file.
  ~GzipBlockReader();
  GzipBlockReader(const GzipBlockReader&) = delete;
  GzipBlockReader& operator=(const GzipBlockReader&) = delete;

  // The next block, in file order. Once a block with size 0 was given (the
  // end, or a failure with its error), every later call gives it again.
  const DecompressedBlock& Next();

  // Decompresses one file's blocks; implemented with zlib and with ISA-L.
  class Inflate;

 private:
  struct Block;
  struct Shared;

  void Produce();
  bool Fill(Block& block);

  std::unique_ptr<Inflate> inflate_;
  std::unique_ptr<Shared> shared_;
  Block* current_ = nullptr;
  bool finished_ = false;
};

}  // namespace quillfen
