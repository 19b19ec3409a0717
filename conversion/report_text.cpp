#include "conversion/report_text.h"

namespace quillfen {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

std::string EscapedForReport(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      escaped.push_back(c);
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\t') {
      escaped += "\\t";
    } else {
      escaped += "\\x";
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0x0F]);
    }
  }
  return escaped;
}

std::string BytesSpelledOut(std::string_view text) {
  std::string spelled;
  bool needed = false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      spelled.push_back(c);
      continue;
    }
    needed = true;
    spelled += "\\x";
    spelled.push_back(kHex[byte >> 4]);
    spelled.push_back(kHex[byte & 0x0F]);
  }
  return needed ? spelled : std::string();
}

}  // namespace quillfen
