#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillfen {

// mboxrd quoting of a message's text that arrives in pieces: every line that
// begins with zero or more ">" and then "From " gets one more ">", so that
// mail readers never take it for the start of the next message. Nothing else
// changes. A line may be split anywhere between two pieces; what decides its
// quoting is held back until the next piece (or Finish) settles it, as
// counts, so that even a line of a hundred million ">" costs no memory.
class MboxQuoter {
 public:
  // Appends the quoted form of piece to out.
  void Feed(std::string_view piece, std::string& out);
  // Appends whatever is still held back; the quoter is then ready for a new
  // text.
  void Finish(std::string& out);

 private:
  void ReleaseHeld(std::string& out);

  bool atLinePrefix_ = true;      // inside the ">"* "From " prefix of a line
  bool heldFromEarlier_ = false;  // that prefix began in an earlier piece
  std::size_t greaters_ = 0;      // ">" of the prefix so far
  std::size_t fromMatched_ = 0;   // characters of "From " matched after them
  // The two counts as they stood when the last piece ended: the bytes held
  // back, which were not written out with that piece.
  std::size_t heldGreaters_ = 0;
  std::size_t heldFrom_ = 0;
};

// The quoting MboxQuoter gives a whole text (Feed, then Finish), done where
// the text lies, for a text that is already in memory: data holds size
// bytes of text followed by room bytes that may be overwritten. Gives the
// quoted size, or SIZE_MAX with the text untouched when its quoting would
// need more than room bytes (or more than 64, whatever room is): the caller
// then quotes it with an MboxQuoter.
std::size_t QuoteInPlace(char* data, std::size_t size, std::size_t room);

}  // namespace quillfen
