#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillfen {

// What tells one message's text from another's: a 128-bit hash, strong
// enough that two different messages never share one in practice. A
// destination knows the records it holds by these hashes.
struct ContentHash {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  friend auto operator<=>(const ContentHash&, const ContentHash&) = default;
};

// The hash of a message's text as it stands in a record: the bytes after an
// old envelope line, without the line ends at its very end. How a record is
// framed (the From line, the line end that closes it, a message that ends
// without one or with empty lines) then never changes the hash, so reading a
// mailbox back gives the hashes that the run which wrote it gave.
//
// The header fields in which mail programs keep their own state of a
// message in an mbox file (Status, X-Status, X-Mozilla-Status and the like,
// Content-Length, Lines; see IsStateField) are left out of the hash, with
// their folded lines: a mail program that marks the records it has seen
// keeps them the same messages.
ContentHash HashOfText(std::string_view text);

// Whether a header field of this name is one that mail programs write into
// mbox files to keep their state. Case does not matter.
bool IsStateField(std::string_view name);

// The same hash for a text that arrives in pieces: the line ends at the end
// of the pieces so far are held back until more text follows them.
class ContentHasher {
 public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;

  void Feed(std::string_view piece);
  // The hash of everything fed since the last Finish; the hasher is then
  // ready for a new text.
  ContentHash Finish();

 private:
  // Hashes text that is kept: the header fields of state are taken out
  // before it comes here.
  void FeedKept(std::string_view piece);

  struct State;
  State* state_;
  std::string heldLineEnds_;
  // Where the text is: in its header, at the start of a line whose fate is
  // not known yet (its first bytes held in lineHead_), or inside a line that
  // is kept or left out.
  bool inHeader_ = true;
  bool lineDecided_ = false;
  bool skippingLine_ = false;
  bool lastFieldSkipped_ = false;
  std::string lineHead_;
};

// A 64-bit hash of text with a seed (XXH3), for the checks that tell a
// line of the index was changed, not for telling messages apart.
std::uint64_t CheckHash(std::string_view text, std::uint64_t seed);

// 32 lower-case hex digits, appended to out, and back; false for text that
// is not one. Appended in place: the index gets a hash for every record.
void AppendHashText(const ContentHash& hash, std::string& out);
bool ParseHashText(std::string_view text, ContentHash& hash);

}  // namespace quillfen
