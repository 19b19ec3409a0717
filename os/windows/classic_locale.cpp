#include "os/classic_locale.h"

namespace quillfen::os {

ClassicLocale::ClassicLocale() = default;
ClassicLocale::~ClassicLocale() = default;

}  // namespace quillfen::os
