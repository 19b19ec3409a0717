#pragma once

#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>

namespace quillfen::cli {

// An output stream over a C stream that keeps the reason of the first write
// that failed. A summary that never reached its reader (a full disk, a
// closed pipe, /dev/full) must not end with the status of a success, and
// the reason is gone by the time the run ends: stdio drops what it could
// not write, and the next flush succeeds.
class CheckedOutput {
 public:
  explicit CheckedOutput(std::FILE* file) : buffer_(file), stream_(&buffer_) {}
  CheckedOutput(const CheckedOutput&) = delete;
  CheckedOutput& operator=(const CheckedOutput&) = delete;

  std::ostream& stream() { return stream_; }
  // Flushes what stdio holds; true when every write so far reached the file.
  bool Flush();
  // Why the first write failed; empty while none has.
  const std::string& failure() const { return buffer_.failure; }

 private:
  // Hands every write to stdio, which buffers it.
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(std::FILE* file) : file_(file) {}
    std::string failure;

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize size) override;
    int sync() override;

   private:
    void Failed();
    std::FILE* file_;
  };

  Buffer buffer_;
  std::ostream stream_;
};

}  // namespace quillfen::cli
