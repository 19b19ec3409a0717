#include "destination/mirror_paths.h"

#include "mbox/message_failure.h"

namespace quillfen {
namespace {

// The longest file name, in bytes, that ext4 and most other file systems
// take; file systems that count characters or UTF-16 units instead take at
// least as many.
constexpr std::size_t kMaxFileNameBytes = 255;

// True for "<folder>!N" with a non-empty folder and N a positive decimal
// number written without a leading zero; folder receives the part before "!".
bool SplitBatchName(std::string_view name, std::string_view& folder) {
  const std::size_t bang = name.rfind('!');
  if (bang == std::string_view::npos || bang == 0) return false;
  const std::string_view number = name.substr(bang + 1);
  if (number.empty() || number.front() == '0') return false;
  for (const char c : number)
    if (c < '0' || c > '9') return false;
  folder = name.substr(0, bang);
  return true;
}

// The source folder a message's mailbox stands for: its own folder, or for a
// batch folder the sibling it was split from, when that sibling exists.
std::string MailFolderOf(const std::string& sourceFolder, PathStyle style,
                         const FolderExistsFunction& folderExists) {
  const std::string withoutSeparator = sourceFolder.substr(0, sourceFolder.size() - 1);
  if (withoutSeparator.empty()) return sourceFolder;
  const std::string name = ExtractFileName(withoutSeparator, style);
  std::string_view folder;
  if (!SplitBatchName(name, folder)) return sourceFolder;
  const std::string sibling =
      ExtractParentPath(withoutSeparator, style) + std::string(folder) + style.separator;
  const bool exists = folderExists ? folderExists(sibling) : IsFolder(sibling);
  return exists ? sibling : sourceFolder;
}

}  // namespace

std::string MirrorFolderFor(const std::string& sourceFile, const std::string& destinationRoot,
                            PathStyle style, const FolderExistsFunction& folderExists) {
  if (sourceFile.empty()) throw MessageFailure("no mirror folder: the file name is empty");
  // An empty root would place the mailbox relative to whatever the current
  // folder happens to be.
  if (destinationRoot.empty()) throw MessageFailure("no mirror folder: no destination folder");
  const std::string sourceFolder = ExtractParentPath(sourceFile, style);
  if (sourceFolder.empty())
    throw MessageFailure("no mirror folder: the file name has no folder: " + sourceFile);
  const std::string mailFolder = MailFolderOf(sourceFolder, style, folderExists);
  const std::string below =
      mailFolder.size() > style.rootPrefixLength ? mailFolder.substr(style.rootPrefixLength) : "";
  return AddTrailingSeparator(destinationRoot, style) + below;
}

std::string MboxFileFor(const std::string& mirrorFolder, PathStyle style) {
  if (mirrorFolder.empty()) throw MessageFailure("no mailbox name: the mirror folder is empty");
  const std::string folder = AddTrailingSeparator(mirrorFolder, style);
  const std::string name = folder.size() > 1
                               ? ExtractFileName(folder.substr(0, folder.size() - 1), style)
                               : std::string();
  if (name.empty())
    throw MessageFailure("no mailbox name: the mirror folder has no name: " + mirrorFolder);
  static constexpr std::string_view kExtension = ".mbox";
  std::string_view stem(name);
  if (stem.size() + kExtension.size() > kMaxFileNameBytes) {
    // A folder name may use all the bytes a file name may have; the mailbox
    // name then gives up the end of it rather than the whole mailbox.
    const std::size_t limit = kMaxFileNameBytes - kExtension.size();
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    // A name that is not UTF-8 at all is cut at the byte limit.
    stem = stem.substr(0, cut > 0 ? cut : limit);
  }
  return folder + std::string(stem) + std::string(kExtension);
}

}  // namespace quillfen
