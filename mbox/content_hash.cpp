#include "mbox/content_hash.h"

#include <charconv>

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

}  // namespace

struct ContentHasher::State {
  XXH3_state_t xxh;
};

ContentHash HashOfText(std::string_view text) {
  return FromDigest(XXH3_128bits(text.data(), TextEnd(text)));
}

ContentHasher::ContentHasher() : state_(new State) {
  XXH3_128bits_reset(&state_->xxh);
}

ContentHasher::~ContentHasher() {
  delete state_;
}

void ContentHasher::Feed(std::string_view piece) {
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
  const ContentHash hash = FromDigest(XXH3_128bits_digest(&state_->xxh));
  XXH3_128bits_reset(&state_->xxh);
  heldLineEnds_.clear();
  return hash;
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
