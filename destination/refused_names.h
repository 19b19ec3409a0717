#pragma once

#include <string>
#include <string_view>

#include "os/platform.h"

namespace quillfen {

// Which file system's refusals the names of the mirror folders keep clear
// of, besides a Mac's folding, which holds everywhere (NTFS folds case as
// well).
struct NameRules {
  // Also the names Windows refuses or changes (see WindowsAcceptedName).
  bool windows = false;

  // The rules of the system the program runs on: elsewhere "Re: news" is a
  // good name and keeps it.
  static constexpr NameRules Native() { return NameRules{os::kWindows}; }
};

// name as Windows stores it unchanged (name itself when it does):
// - each character Windows refuses (< > : " / \ | ? * and the controls
//   U+0001..U+001F) becomes "_";
// - a last dot or space, which Windows would strip ("Work." would become the
//   folder "Work"), becomes "_";
// - a device name (CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9 and COM or LPT
//   with a superscript 1, 2 or 3, in any case), which Windows takes for the
//   device also before an extension and spaces ("con.txt", "NUL .old"), gets
//   "_" right after its word: "CON_", "con_.txt". The name keeps its word
//   and its extension, so the user still recognises it, and the mailbox
//   named after the folder ("CON_.mbox") is no device either.
// Each change is one ASCII character, so valid UTF-8 stays valid; the
// device rule adds one byte.
std::string WindowsAcceptedName(std::string_view name);

}  // namespace quillfen
