#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct gzFile_s;  // zlib's open file

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

// Reads a gzip-compressed file in blocks of decompressed bytes; a file that
// is not gzip-compressed passes through unchanged. zlib checks every gzip
// member's CRC and length, so damage anywhere in the file is reported.
//
// A thread of its own decompresses a few blocks ahead of the caller, so that
// decompressing and using the bytes each take a core; where no thread can be
// started, blocks are decompressed on the caller's thread when asked for.
class GzipBlockReader {
 public:
  // Opens path. Throws std::runtime_error with the reason (the system's,
  // without the path) when the file cannot be opened.
  explicit GzipBlockReader(const std::string& path);
  // Stops the thread, even in the middle of the file, and closes the file.
  ~GzipBlockReader();
  GzipBlockReader(const GzipBlockReader&) = delete;
  GzipBlockReader& operator=(const GzipBlockReader&) = delete;

  // The next block, in file order. Once a block with size 0 was given (the
  // end, or a failure with its error), every later call gives it again.
  const DecompressedBlock& Next();

 private:
  struct Block;
  struct Shared;

  void Produce();
  bool Fill(Block& block);

  std::string zlibName_;  // how zlib's messages name the file
  gzFile_s* file_ = nullptr;
  std::unique_ptr<Shared> shared_;
  Block* current_ = nullptr;
  bool finished_ = false;
};

}  // namespace quillfen
