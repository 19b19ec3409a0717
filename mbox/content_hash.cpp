#include "mbox/content_hash.h"

#include <array>
#include <charconv>
#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quillfen {

namespace {

std::size_t TextEnd(std::string_view text) {
  const std::size_t last = text.find_last_not_of("\r\n");
  return last == std::string_view::npos ? 0 : last + 1;
}

ContentHash FromDigest(const XXH128_hash_t& digest) {
  return {digest.low64, digest.high64};
}

// The longest name of a field of state ("X-Mozilla-Status2").
constexpr std::size_t kLongestStateName = 17;

// What the start of a line in a message's header is, once enough of it is
// known: a field kept in the hash or left out, a folded line of the field
// before it, or the empty line that ends the header.
enum class LineKind { Undecided, Kept, Skipped, Folded, Blank };

LineKind Classify(std::string_view head) {
  if (head.empty()) return LineKind::Undecided;
  const char first = head[0];
  if (first == ' ' || first == '\t') return LineKind::Folded;
  if (first == '\n') return LineKind::Blank;
  if (first == '\r') {
    if (head.size() < 2) return LineKind::Undecided;
    return head[1] == '\n' ? LineKind::Blank : LineKind::Kept;
  }
  for (std::size_t i = 0; i < head.size(); ++i) {
    const char c = head[i];
    if (c == ':') return IsStateField(head.substr(0, i)) ? LineKind::Skipped : LineKind::Kept;
    const bool nameByte =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!nameByte || i >= kLongestStateName) return LineKind::Kept;
  }
  return LineKind::Undecided;
}

// Whether the text's header holds a field of state: nearly none does, and
// those that do not are hashed in one go.
bool HoldsStateField(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const LineKind kind = Classify(text.substr(at, kLongestStateName + 2));
    if (kind == LineKind::Skipped) return true;
    if (kind == LineKind::Blank) return false;
    const void* end = std::memchr(text.data() + at, '\n', text.size() - at);
    if (end == nullptr) return false;
    at = static_cast<std::size_t>(static_cast<const char*>(end) - text.data()) + 1;
  }
  return false;
}

}  // namespace

bool IsStateField(std::string_view name) {
  static constexpr std::array<std::string_view, 11> kStateFields = {
      "Status", "X-Status", "X-Mozilla-Status", "X-Mozilla-Status2", "X-Mozilla-Keys", "X-Keywords",
      "X-UID",  "X-IMAP",   "X-IMAPbase",       "Content-Length",    "Lines"};
  for (const std::string_view field : kStateFields) {
    if (field.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < name.size(); ++i) {
      const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
      same = lower(field[i]) == lower(name[i]);
    }
    if (same) return true;
  }
  return false;
}

struct ContentHasher::State {
  XXH3_state_t xxh;
};

ContentHash HashOfText(std::string_view text) {
  if (!HoldsStateField(text)) return FromDigest(XXH3_128bits(text.data(), TextEnd(text)));
  ContentHasher hasher;
  hasher.Feed(text);
  return hasher.Finish();
}

ContentHasher::ContentHasher() : state_(new State) {
  XXH3_128bits_reset(&state_->xxh);
}

ContentHasher::~ContentHasher() {
  delete state_;
}

void ContentHasher::Feed(std::string_view piece) {
  std::size_t at = 0;
  while (at < piece.size()) {
    if (!inHeader_) {
      FeedKept(piece.substr(at));
      return;
    }
    if (!lineDecided_) {
      // A line's first bytes are held until they tell what it is.
      LineKind kind = LineKind::Undecided;
      while (at < piece.size() && kind == LineKind::Undecided) {
        lineHead_ += piece[at++];
        kind = Classify(lineHead_);
      }
      if (kind == LineKind::Undecided) return;
      if (kind == LineKind::Blank) inHeader_ = false;
      skippingLine_ = kind == LineKind::Skipped || (kind == LineKind::Folded && lastFieldSkipped_);
      if (kind == LineKind::Skipped || kind == LineKind::Kept)
        lastFieldSkipped_ = kind == LineKind::Skipped;
      if (!skippingLine_) FeedKept(lineHead_);
      lineDecided_ = lineHead_.back() != '\n';
      lineHead_.clear();
      continue;
    }
    const void* found = std::memchr(piece.data() + at, '\n', piece.size() - at);
    const std::size_t end =
        found == nullptr
            ? piece.size()
            : static_cast<std::size_t>(static_cast<const char*>(found) - piece.data()) + 1;
    if (!skippingLine_) FeedKept(piece.substr(at, end - at));
    at = end;
    if (found != nullptr) lineDecided_ = false;
  }
}

void ContentHasher::FeedKept(std::string_view piece) {
  const std::size_t end = TextEnd(piece);
  if (end == 0) {
    // Line ends only: whether they end the text is known once more comes.
    heldLineEnds_.append(piece);
    return;
  }
  if (!heldLineEnds_.empty()) {
    XXH3_128bits_update(&state_->xxh, heldLineEnds_.data(), heldLineEnds_.size());
    heldLineEnds_.clear();
  }
  XXH3_128bits_update(&state_->xxh, piece.data(), end);
  heldLineEnds_.assign(piece.substr(end));
}

ContentHash ContentHasher::Finish() {
  // A last line too short to tell what it is stays in the text.
  if (!lineHead_.empty()) FeedKept(lineHead_);
  lineHead_.clear();
  inHeader_ = true;
  lineDecided_ = skippingLine_ = lastFieldSkipped_ = false;
  const ContentHash hash = FromDigest(XXH3_128bits_digest(&state_->xxh));
  XXH3_128bits_reset(&state_->xxh);
  heldLineEnds_.clear();
  return hash;
}

std::uint64_t CheckHash(std::string_view text, std::uint64_t seed) {
  return XXH3_64bits_withSeed(text.data(), text.size(), seed);
}

void AppendHashText(const ContentHash& hash, std::string& out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char text[32];
  for (int i = 0; i < 16; ++i) {
    text[15 - i] = kDigits[(hash.high >> (4 * i)) & 15];
    text[31 - i] = kDigits[(hash.low >> (4 * i)) & 15];
  }
  out.append(text, sizeof text);
}

bool ParseHashText(std::string_view text, ContentHash& hash) {
  if (text.size() != 32) return false;
  const auto half = [](std::string_view digits, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + 16, value, 16);
    return error == std::errc() && end == digits.data() + 16;
  };
  return half(text.substr(0, 16), hash.high) && half(text.substr(16), hash.low);
}

}  // namespace quillfen
