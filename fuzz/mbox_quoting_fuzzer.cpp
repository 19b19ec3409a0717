// Any text written as a record must come back exactly from an mboxrd reader,
// and no line of it may pass for a record separator.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "convert/envelope_line.h"
#include "convert/mbox_record.h"

namespace {

constexpr std::string_view kFirstFromLine = "From fuzz@example.org Tue Mar 05 14:07:09 2013";
constexpr std::string_view kSecondFromLine = "From next@example.org Wed Mar 06 00:00:00 2013";
constexpr std::string_view kSecondText = "Subject: next\r\n\r\nFrom the next record\r\n";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "mbox quoting: %s\n", what);
  std::abort();
}

// One mailbox file for the whole fuzzing process, emptied before each input.
// It lives in memory where the system offers a memory file system, so that
// each input costs no disk journal work.
std::string MakeMailboxFile() {
  for (const char* folder : {"/dev/shm", "/tmp"}) {
    std::string pattern = std::string(folder) + "/quillfen-fuzz-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) {
      ::close(fd);
      return pattern;
    }
  }
  Fail("cannot create the mailbox file");
}

const std::string& MailboxPath() {
  static const std::string path = [] {
    std::string made = MakeMailboxFile();
    std::atexit([] { ::unlink(MailboxPath().c_str()); });
    return made;
  }();
  return path;
}

// The mboxrd reading of a record's stored text: a line that begins with one
// or more ">" and then "From " loses one ">".
std::string Unquote(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(start, end - start);
    const std::size_t arrows = line.find_first_not_of('>');
    const bool quoted =
        arrows != 0 && arrows != std::string_view::npos && line.substr(arrows).starts_with("From ");
    out.append(quoted ? line.substr(1) : line);
    start = end;
  }
  return out;
}

// The text the record should carry: without a first line that is itself an
// envelope line, which the record's own From line replaces; any other first
// line is kept.
std::string_view Expected(std::string_view text) {
  return text.substr(quillfen::EnvelopeLineLength(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string& path = MailboxPath();
  if (::truncate(path.c_str(), 0) != 0) Fail("cannot empty the mailbox file");

  quillfen::AppendMboxRecord(path, {std::string(kFirstFromLine), text}, {});
  quillfen::AppendMboxRecord(path, {std::string(kSecondFromLine), std::string(kSecondText)}, {});

  std::ifstream in(path, std::ios::binary);
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  // Record separators: lines that begin with "From ". There must be exactly
  // the two that were written.
  std::vector<std::size_t> starts;
  if (stored.starts_with("From ")) starts.push_back(0);
  for (std::size_t at = stored.find("\nFrom "); at != std::string::npos;
       at = stored.find("\nFrom ", at + 1))
    starts.push_back(at + 1);
  if (starts.size() != 2 || starts[0] != 0) Fail("a line of the text passes for a separator");

  const std::string_view first = std::string_view(stored).substr(0, starts[1]);
  const std::string head = std::string(kFirstFromLine) + "\r\n";
  if (!first.starts_with(head) || !first.ends_with("\r\n") || first.size() < head.size() + 2)
    Fail("the first record is not From line, CR LF, text, CR LF");
  const std::string_view body = first.substr(head.size(), first.size() - head.size() - 2);
  if (Unquote(body) != Expected(text)) Fail("the text does not come back exactly");

  // The body line of the second record is quoted too.
  if (std::string_view(stored).substr(starts[1]) !=
      std::string(kSecondFromLine) + "\r\nSubject: next\r\n\r\n>From the next record\r\n\r\n")
    Fail("the record after it is not intact");
  return 0;
}
