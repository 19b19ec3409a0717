#pragma once

namespace quillfen::os {

// While it lives, the calling thread works in the classic "C" locale,
// whatever locale the process chose (the window's toolkit chooses the
// user's). Names a library converts "to the locale" then come out as they
// are stored: in a UTF-8 locale the archive library composes every UTF-8
// name, so that "Cafe" with a combining accent and "Café" became one
// folder, and the window read other names from an archive than the command
// line, which never chooses a locale. Nothing on Windows, where the archive's
// names are read as UTF-8 whatever the locale.
class ClassicLocale {
 public:
  ClassicLocale();
  ~ClassicLocale();
  ClassicLocale(const ClassicLocale&) = delete;
  ClassicLocale& operator=(const ClassicLocale&) = delete;

 private:
  void* previous_ = nullptr;
};

}  // namespace quillfen::os
