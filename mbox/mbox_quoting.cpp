#include "mbox/mbox_quoting.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace quillfen {

namespace {

constexpr std::string_view kFrom = "From ";

// The first line start in data[from, size) that could begin a separator
// look-alike (a line feed followed by ">" or "F"), or the start right after a
// line feed that ends the data, whose line the next piece continues; size
// when there is none. Sixteen bytes are looked at in one step: most lines
// begin with neither, and a search from line feed to line feed spent more
// time starting searches than searching.
using Bytes = unsigned char __attribute__((vector_size(16)));

// The sixteen bytes at data whose line feed is followed by ">" or "F" (the
// byte after the sixteen is looked at too), as all ones.
Bytes CandidatesAt(const char* data) {
  Bytes here;
  Bytes next;
  std::memcpy(&here, data, 16);
  std::memcpy(&next, data + 1, 16);
  return (here == '\n') & ((next == 'F') | (next == '>'));
}

bool AnySet(Bytes bytes) {
  std::uint64_t halves[2];
  std::memcpy(halves, &bytes, 16);
  return (halves[0] | halves[1]) != 0;
}

std::size_t NextCandidate(const char* data, std::size_t from, std::size_t size) {
  std::size_t at = from;
  // Four times sixteen bytes are asked about at once: the branch is then
  // taken once for all of them.
  for (; at + 65 <= size; at += 64) {
    if (AnySet(CandidatesAt(data + at) | CandidatesAt(data + at + 16) |
               CandidatesAt(data + at + 32) | CandidatesAt(data + at + 48)))
      break;
  }
  for (; at + 17 <= size; at += 16) {
    const Bytes hits = CandidatesAt(data + at);
    std::uint64_t halves[2];
    std::memcpy(halves, &hits, 16);
    if ((halves[0] | halves[1]) != 0) {
      const int bit =
          halves[0] != 0 ? std::countr_zero(halves[0]) : 64 + std::countr_zero(halves[1]);
      return at + static_cast<std::size_t>(bit / 8) + 1;
    }
  }
  for (; at < size; ++at) {
    if (data[at] != '\n') continue;
    if (at + 1 == size || data[at + 1] == 'F' || data[at + 1] == '>') return at + 1;
  }
  return size;
}

// Whether the line at data[at] is a separator look-alike whose "From " is
// all there: Finish leaves a line cut short inside its prefix as it is.
bool NeedsQuoting(const char* data, std::size_t at, std::size_t size) {
  while (at < size && data[at] == '>') ++at;
  return size - at >= kFrom.size() && std::memcmp(data + at, kFrom.data(), kFrom.size()) == 0;
}

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
    // Only a line that begins with ">" or "F" can need a ">" more.
    at = NextCandidate(data, at, size);
    if (at == size && (size == 0 || data[size - 1] != '\n')) break;
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

std::size_t QuoteInPlace(char* data, std::size_t size, std::size_t room) {
  // The lines that get a ">" are found first, so that a text that needs too
  // many is left untouched; nearly every text has none.
  constexpr std::size_t kMostQuoted = 64;
  std::size_t starts[kMostQuoted];
  const std::size_t most = room < kMostQuoted ? room : kMostQuoted;
  std::size_t count = 0;
  for (std::size_t at = 0; at < size; at = NextCandidate(data, at, size)) {
    if (!NeedsQuoting(data, at, size)) continue;
    if (count == most) return SIZE_MAX;
    starts[count++] = at;
  }
  // Then each stretch moves up by the ">" inserted before it, the last one
  // first, so that none overwrites what is still to move.
  std::size_t end = size;
  for (std::size_t k = count; k > 0; --k) {
    const std::size_t start = starts[k - 1];
    std::memmove(data + start + k, data + start, end - start);
    data[start + k - 1] = '>';
    end = start;
  }
  return size + count;
}

void MboxQuoter::Finish(std::string& out) {
  if (atLinePrefix_) ReleaseHeld(out);
  atLinePrefix_ = true;
  heldFromEarlier_ = false;
  greaters_ = 0;
  fromMatched_ = 0;
}

}  // namespace quillfen
