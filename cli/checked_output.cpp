#include "cli/checked_output.h"

#include <cerrno>

#include "os/status.h"

namespace quillfen::cli {

bool CheckedOutput::Flush() {
  stream_.flush();
  return buffer_.failure.empty() && stream_.good();
}

void CheckedOutput::Buffer::Failed() {
  // Only the first reason is kept: a later one is most often the same
  // failure again.
  if (!failure.empty()) return;
  failure = errno != 0 ? os::ErrnoReason(errno) : "write error";
}

CheckedOutput::Buffer::int_type CheckedOutput::Buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  errno = 0;
  if (std::fputc(traits_type::to_char_type(c), file_) == EOF) {
    Failed();
    return traits_type::eof();
  }
  return c;
}

std::streamsize CheckedOutput::Buffer::xsputn(const char* text, std::streamsize size) {
  errno = 0;
  const std::size_t written = std::fwrite(text, 1, static_cast<std::size_t>(size), file_);
  if (written != static_cast<std::size_t>(size)) Failed();
  return static_cast<std::streamsize>(written);
}

int CheckedOutput::Buffer::sync() {
  errno = 0;
  if (std::fflush(file_) == 0) return 0;
  Failed();
  return -1;
}

}  // namespace quillfen::cli
