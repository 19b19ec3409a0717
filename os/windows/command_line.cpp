#include "os/command_line.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "os/windows/wide_text.h"

namespace quillfen::os {

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide != nullptr && i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  if (wide != nullptr) ::LocalFree(wide);
  return args;
}

}  // namespace quillfen::os
