#include "destination/refused_names.h"

#include <array>

namespace quillfen {
namespace {

bool RefusedCharacter(char c) {
  return (c >= '\x01' && c <= '\x1F') ||
         std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
}

bool SameLetters(std::string_view text, std::string_view upperWord) {
  if (text.size() != upperWord.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c =
        text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != upperWord[i]) return false;
  }
  return true;
}

// The length of the device word name begins with, or 0. Windows takes a
// name for a device when what comes before its first dot, without the
// spaces it ends with, is such a word.
std::size_t DeviceWordLength(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const std::string_view word : {"CON", "PRN", "AUX", "NUL"})
    if (SameLetters(stem, word)) return stem.size();
  if (stem.size() < 4 ||
      !(SameLetters(stem.substr(0, 3), "COM") || SameLetters(stem.substr(0, 3), "LPT")))
    return 0;
  const std::string_view number = stem.substr(3);
  // "¹", "²" and "³" in UTF-8.
  static constexpr std::array<std::string_view, 3> kSuperscripts = {"\xC2\xB9", "\xC2\xB2",
                                                                    "\xC2\xB3"};
  const bool digit = number.size() == 1 && number[0] >= '1' && number[0] <= '9';
  for (const std::string_view superscript : kSuperscripts)
    if (number == superscript) return stem.size();
  return digit ? stem.size() : 0;
}

}  // namespace

std::string WindowsAcceptedName(std::string_view name) {
  std::string accepted(name);
  for (char& c : accepted)
    if (RefusedCharacter(c)) c = '_';
  // One is enough: what Windows strips is the dots and spaces at the end.
  if (!accepted.empty() && (accepted.back() == '.' || accepted.back() == ' '))
    accepted.back() = '_';
  if (const std::size_t word = DeviceWordLength(accepted); word > 0) accepted.insert(word, 1, '_');
  return accepted;
}

}  // namespace quillfen
