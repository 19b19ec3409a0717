#include "os/windows/wide_text.h"

#include <windows.h>

#include <vector>

namespace quillfen::os {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

std::wstring CurrentFolder() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(needed, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(needed, folder.data());
  folder.resize(length < needed ? length : 0);
  return folder;
}

// Splits an absolute path into its root ("C:", "\\server\share" as
// "UNC\server\share") and the rest; resolves a relative one against the
// current folder first.
void SplitRoot(std::wstring path, std::wstring& root, std::wstring& rest) {
  if (path.rfind(L"\\\\?\\", 0) == 0) {
    // Already in the long form: "C:" or "UNC\server\share" is the root.
    path = path.substr(4);
    std::size_t end = path.find_first_of(L"\\/");
    if (path.rfind(L"UNC\\", 0) == 0) {
      end = path.find_first_of(L"\\/", 4);
      if (end != std::wstring::npos) end = path.find_first_of(L"\\/", end + 1);
    }
    root = path.substr(0, end);
    rest = end == std::wstring::npos ? L"" : path.substr(end);
    return;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share\rest
    std::size_t server = path.find_first_of(L"\\/", 2);
    std::size_t share =
        server == std::wstring::npos ? server : path.find_first_of(L"\\/", server + 1);
    root = L"UNC\\" + path.substr(2, share == std::wstring::npos ? std::wstring::npos : share - 2);
    rest = share == std::wstring::npos ? L"" : path.substr(share);
    return;
  }
  if (path.size() >= 2 && path[1] == L':') {
    root = path.substr(0, 2);
    rest = path.substr(2);
    if (rest.empty() || !IsSeparator(rest[0])) {
      // "C:name" is relative to the current folder of that drive; the
      // system knows it.
      std::vector<wchar_t> full(32768);
      const DWORD length =
          ::GetFullPathNameW(root.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
      rest = std::wstring(full.data() + 2, length > 2 ? length - 2 : 0) + L"\\" + rest;
    }
    return;
  }
  if (!path.empty() && IsSeparator(path[0])) {
    // The root of the current drive.
    SplitRoot(CurrentFolder().substr(0, 2), root, rest);
    rest = path;
    return;
  }
  SplitRoot(CurrentFolder() + L"\\" + path, root, rest);
}

}  // namespace

std::optional<std::wstring> Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), length);
  return wide;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

std::optional<std::wstring> LongPath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::optional<std::wstring> wide = Utf8ToWide(path);
  if (!wide) return std::nullopt;
  std::wstring root, rest;
  SplitRoot(*wide, root, rest);

  // The names below the root, with "." dropped and ".." taking back the
  // name before it, never above the root.
  std::vector<std::wstring> names;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = rest.size();
    const std::wstring name = rest.substr(start, end - start);
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != L".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  std::wstring result = L"\\\\?\\" + root;
  for (const std::wstring& name : names) result += L"\\" + name;
  // A drive's root needs its backslash ("\\?\C:\"); other folders do
  // without.
  if (names.empty()) result += L"\\";
  return result;
}

}  // namespace quillfen::os
