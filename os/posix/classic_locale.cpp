#include "os/classic_locale.h"

#include <locale.h>

namespace quillfen::os {
namespace {

// Made once and kept: a thread's locale must outlive its use.
locale_t Classic() {
  static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return classic;
}

}  // namespace

ClassicLocale::ClassicLocale() {
  if (const locale_t classic = Classic(); classic != static_cast<locale_t>(nullptr))
    previous_ = uselocale(classic);
}

ClassicLocale::~ClassicLocale() {
  if (previous_ != nullptr) uselocale(static_cast<locale_t>(previous_));
}

}  // namespace quillfen::os
