// Paths below a folder the user chose, checked one name at a time so that
// no link planted below it (a symbolic link or a junction) is ever
// followed, and no file with a second name is written.

#include <windows.h>

#include <string_view>
#include <vector>

#include "os/file.h"
#include "os/folders.h"
#include "os/planted_faults.h"
#include "os/windows/system_reason.h"
#include "os/windows/wide_text.h"

namespace quillfen::os {
namespace {

Status LinkFailure() {
  return Status(Failure::Link, "a link to elsewhere");
}

std::vector<std::string> Names(std::string_view relative) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at <= relative.size()) {
    const std::size_t slash = relative.find_first_of("\\/", at);
    const std::size_t end = slash == std::string_view::npos ? relative.size() : slash;
    if (end > at) names.emplace_back(relative.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

std::string Joined(const std::string& root, const std::string& name) {
  return !root.empty() && (root.back() == '\\' || root.back() == '/') ? root + name
                                                                      : root + "\\" + name;
}

// Checks each name of relative below root, making the missing folders
// when create is set: a link on the way fails. last names the whole path
// when every name was checked, the last one included when checkLast is set.
Status Walk(const std::string& root, const std::string& relative, bool create, bool checkLast,
            std::string& path) {
  const std::vector<std::string> names = Names(relative);
  path = root;
  for (std::size_t i = 0; i < names.size(); ++i) {
    path = Joined(path, names[i]);
    const bool last = i + 1 == names.size();
    if (last && !checkLast) break;
    const std::optional<std::wstring> wide = LongPath(path);
    if (!wide) return Status(Failure::Other, "the name is not valid");
    DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && create && !last) {
      if (!::CreateDirectoryW(wide->c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return SystemFailure(::GetLastError());
      attributes = ::GetFileAttributesW(wide->c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return SystemFailure(::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return LinkFailure();
    if (!last && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return SystemFailure(ERROR_DIRECTORY);
  }
  return Status();
}

}  // namespace

Status InspectBelow(const std::string& root, const std::string& relative, PathFacts& facts) {
  facts = PathFacts();
  std::string path;
  if (Status walked = Walk(root, relative, false, true, path); !walked.ok()) return walked;
  return Inspect(path, facts);
}

Status CreateFoldersBelow(const std::string& root, const std::string& relative) {
  std::string path;
  return Walk(root, relative + "\\.", true, false, path);
}

Status RemoveFileBelow(const std::string& root, const std::string& relative) {
  std::string path;
  if (Status walked = Walk(root, relative, false, true, path); !walked.ok()) return walked;
  return RemoveFile(path);
}

Status CutBackFileBelow(const std::string& root, const std::string& relative, std::int64_t length) {
  std::string path;
  if (Status walked = Walk(root, relative, false, true, path); !walked.ok()) return walked;
  return CutBackFile(path, length);
}

std::int64_t OpenFilesLimit() {
  // Handles have no small per-process limit here; the C library's own
  // table, which the conversion does not use, is the only one.
  return 0;
}

namespace {

// A file with more than one name would let a write reach another place.
Status RefuseSecondNames(File& file, HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info) && info.nNumberOfLinks > 1) {
    (void)file.Close();
    return Status(Failure::Link, "a file with another name elsewhere");
  }
  return Status();
}

}  // namespace

Status File::OpenForReadingBelow(const std::string& root, const std::string& relative,
                                 PathFacts* facts) {
  std::string path;
  if (Status walked = Walk(root, relative, false, true, path); !walked.ok()) return walked;
  if (Status opened = OpenForReading(path, facts); !opened.ok()) return opened;
  return RefuseSecondNames(*this, reinterpret_cast<HANDLE>(handle_));
}

Status File::OpenForAppendingBelow(const std::string& root, const std::string& relative,
                                   bool* created, PathFacts* facts) {
  std::string path;
  if (Status walked = Walk(root, relative, false, false, path); !walked.ok()) return walked;
  // The last name is checked too when it is there already.
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return Status(Failure::Other, "the name is not valid");
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return LinkFailure();
  if (Status opened = OpenForAppending(path, created, facts); !opened.ok()) return opened;
  return RefuseSecondNames(*this, reinterpret_cast<HANDLE>(handle_));
}

}  // namespace quillfen::os
