// The index must say the same whatever pieces it is read in, and never
// claim more of itself than its bytes: the bytes are taken as the index
// file, with every line's check made right or left as it is (the first
// byte chooses), then read whole and in pieces whose sizes the input also
// chooses.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "destination/index_lines.h"

namespace {

using quillfen::IndexContents;
using quillfen::IndexReader;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "index reader: %s\n", what);
  std::abort();
}

// Everything the contents say, in one text, to compare two readings.
std::string Describe(const IndexContents& contents, const IndexReader& reader) {
  std::string out = contents.trusted ? "trusted\n" : "not trusted\n";
  out += std::to_string(reader.wholeLength()) + " " + std::to_string(reader.lines()) + "\n";
  for (const quillfen::IndexedMailbox& mailbox : contents.mailboxes) {
    out += std::to_string(mailbox.id) + " " + mailbox.relative + " " +
           std::to_string(mailbox.known) + " " + std::to_string(mailbox.length) + " " +
           std::to_string(mailbox.time) + " " + std::to_string(mailbox.openLength) + " " +
           std::to_string(mailbox.openCount) + " " + std::to_string(mailbox.durableCount) + " " +
           std::to_string(mailbox.durableLength) + ":";
    for (const quillfen::ContentHash& hash : mailbox.held)
      out += " " + std::to_string(hash.low) + "/" + std::to_string(hash.high);
    out += "\n";
  }
  for (const auto& [wanted, chosen] : contents.names) out += wanted + "=" + chosen + "\n";
  return out;
}

// The lines after the first with their checks made right: what the index
// file would hold had Quillfen written them.
std::string WithChecks(std::string_view text) {
  const std::size_t first = text.find('\n');
  if (first == std::string_view::npos) return std::string(text);
  std::string out(text.substr(0, first + 1));
  std::int64_t number = 0;
  for (std::size_t at = first + 1; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    const std::string_view line = text.substr(at, end - at);
    out.append(line).append(quillfen::LineCheck(line, ++number)) += '\n';
    at = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool checked = (data[0] & 1) != 0;
  std::uint32_t pieces = data[1];
  const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string index = checked ? WithChecks(input) : std::string(input);

  IndexReader whole;
  whole.Feed(index);
  const IndexContents once = whole.Finish();
  if (whole.wholeLength() > static_cast<std::int64_t>(index.size()))
    Fail("the whole reading claims more bytes than there are");

  IndexReader split;
  for (std::size_t at = 0; at < index.size();) {
    // Piece sizes from 1 byte up, chosen by a small generator the input
    // seeds.
    pieces = pieces * 1103515245u + 12345u;
    const std::size_t piece = 1 + (pieces >> 16) % 97;
    split.Feed(std::string_view(index).substr(at, piece));
    at += piece;
  }
  const IndexContents inPieces = split.Finish();
  if (Describe(once, whole) != Describe(inPieces, split))
    Fail("reading in pieces says something else than reading whole");
  return 0;
}
