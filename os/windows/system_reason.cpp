#include "os/windows/system_reason.h"

#include <windows.h>

#include "os/windows/wide_text.h"

namespace quillfen::os {

Status SystemFailure(unsigned long error) {
  Failure failure = Failure::Other;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) failure = Failure::NotFound;
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) failure = Failure::NoSpace;
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION)
    failure = Failure::LockHeld;

  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason = length > 0 ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  // The system's texts end with a full stop and a line break, which the
  // caller's own sentence does not want.
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                             reason.back() == L' ' || reason.back() == L'.'))
    reason.pop_back();
  if (reason.empty()) return Status(failure, "system error " + std::to_string(error));
  return Status(failure, WideToUtf8(reason));
}

const std::vector<std::string>& NoSpaceReasons() {
  static const std::vector<std::string> reasons = {SystemFailure(ERROR_DISK_FULL).reason(),
                                                   SystemFailure(ERROR_HANDLE_DISK_FULL).reason()};
  return reasons;
}

Status InvalidPath() {
  return SystemFailure(ERROR_INVALID_NAME);
}

}  // namespace quillfen::os
