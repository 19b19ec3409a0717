#include "convert/mbox_quoting.h"

#include <cstring>

namespace quillfen {

namespace {

constexpr std::string_view kFrom = "From ";

void AppendGreaters(std::size_t count, std::string& out) {
  out.append(count, '>');
}

}  // namespace

void MboxQuoter::ReleaseHeld(std::string& out) {
  if (heldFromEarlier_) {
    AppendGreaters(heldGreaters_, out);
    out.append(kFrom.substr(0, heldFrom_));
  }
  heldFromEarlier_ = false;
}

void MboxQuoter::Feed(std::string_view piece, std::string& out) {
  const char* const data = piece.data();
  const std::size_t size = piece.size();
  // Bytes from run on are copied unchanged once their fate is known.
  std::size_t run = 0;
  // Where the current line's prefix began in this piece (when it did).
  std::size_t prefixStart = 0;
  std::size_t at = 0;
  while (at < size) {
    if (atLinePrefix_) {
      const char c = data[at];
      if (fromMatched_ == 0 && c == '>') {
        ++greaters_;
        ++at;
        continue;
      }
      if (c == kFrom[fromMatched_]) {
        ++at;
        if (++fromMatched_ < kFrom.size()) continue;
        // A separator look-alike: one more ">" before the whole line.
        if (heldFromEarlier_) {
          out.push_back('>');
          ReleaseHeld(out);
        } else {
          out.append(data + run, prefixStart - run);
          out.push_back('>');
          run = prefixStart;
        }
      } else {
        // Not a separator look-alike: what was held back is plain text.
        ReleaseHeld(out);
      }
      atLinePrefix_ = false;
      continue;
    }
    const void* lineEnd = std::memchr(data + at, '\n', size - at);
    if (lineEnd == nullptr) {
      at = size;
      break;
    }
    at = static_cast<std::size_t>(static_cast<const char*>(lineEnd) - data) + 1;
    atLinePrefix_ = true;
    greaters_ = 0;
    fromMatched_ = 0;
    prefixStart = at;
  }
  if (atLinePrefix_) {
    // The prefix of the last line is still undecided: it is held back, as
    // counts, until the next piece settles it.
    // When it began in an earlier piece, this whole piece belongs to it.
    if (!heldFromEarlier_) out.append(data + run, prefixStart - run);
    heldFromEarlier_ = true;
    heldGreaters_ = greaters_;
    heldFrom_ = fromMatched_;
  } else {
    out.append(data + run, size - run);
  }
}

void MboxQuoter::Finish(std::string& out) {
  if (atLinePrefix_) ReleaseHeld(out);
  atLinePrefix_ = true;
  heldFromEarlier_ = false;
  greaters_ = 0;
  fromMatched_ = 0;
}

}  // namespace quillfen
