#include "convert/mbox_record.h"

#include <array>
#include <charconv>
#include <chrono>
#include <tuple>

#include "convert/message_failure.h"

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

// The From line's date must have a four-digit year, or mbox readers reject
// the record, and readers that turn it into a time since 1970 cannot hold an
// earlier one; e-mail itself is younger than that. A date outside 1970 to
// 9999 (an impossible header date or file time) therefore becomes the
// nearest end of that range, to the second.
MessageDateTime WithinFromLineRange(const MessageDateTime& date) {
  static constexpr MessageDateTime kFirst{1970, 1, 1, 0, 0, 0};
  static constexpr MessageDateTime kLast{9999, 12, 31, 23, 59, 59};
  const auto key = [](const MessageDateTime& d) {
    return std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second);
  };
  if (key(date) < key(kFirst)) return kFirst;
  if (key(kLast) < key(date)) return kLast;
  return date;
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

// Appends separator and value in decimal, with leading zeros up to width
// digits, as printf's "%0*d" does; formatting by hand keeps the From line
// off printf's path, which cost as much as the rest of the line.
static void AppendNumber(std::string& line, char separator, int value, int width) {
  char digits[16];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const char* start = digits;
  line += separator;
  // The zeros go after a minus sign, which counts towards the width.
  if (*start == '-') line += *start++;
  const int count = static_cast<int>(end - digits);
  if (count < width) line.append(static_cast<std::size_t>(width - count), '0');
  line.append(start, end);
}

std::string FormatFromLine(const std::string& sender, const MessageDateTime& givenDate) {
  using namespace std::chrono;
  const MessageDateTime date = WithinFromLineRange(givenDate);
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The names are fixed English ones whatever the locale: every mbox reader
  // expects them. The weekday comes from the date itself.
  const int month = date.month < 1 ? 1 : (date.month > 12 ? 12 : date.month);
  const year_month_day ymd(year(date.year), std::chrono::month(static_cast<unsigned>(month)),
                           day(static_cast<unsigned>(date.day < 1 ? 1 : date.day)));
  const weekday wd{sys_days(ymd)};
  std::string line;
  line.reserve(sender.size() + 30);
  line += "From ";
  line += sender;
  line += ' ';
  line += kDays[wd.c_encoding()];
  line += ' ';
  line += kMonths[month - 1];
  AppendNumber(line, ' ', date.day, 2);
  AppendNumber(line, ' ', date.hour, 2);
  AppendNumber(line, ':', date.minute, 2);
  AppendNumber(line, ':', date.second, 2);
  AppendNumber(line, ' ', date.year, 4);
  return line;
}

}  // namespace quillfen
