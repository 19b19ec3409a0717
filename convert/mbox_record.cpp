#include "convert/mbox_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "convert/envelope_line.h"
#include "convert/message_failure.h"

namespace quillfen {
namespace {

// The longest file name, in bytes, that ext4 and most other file systems
// take; file systems that count characters or UTF-16 units instead take at
// least as many.
constexpr std::size_t kMaxFileNameBytes = 255;

std::string Reason(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

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

// Hands text to emit in pieces, in order, with one more ">" before every
// line that begins with zero or more ">" and then "From " (mboxrd quoting).
// Mail readers would otherwise take such a line for the start of the next
// message.
template <typename Emit>
void QuotedPieces(std::string_view text, Emit&& emit) {
  // Searching for "From " and looking back keeps the common case, a text
  // with no such line, to one scan and one piece.
  static constexpr std::string_view kQuote = ">";
  std::size_t copied = 0;
  for (std::size_t hit = text.find("From "); hit != std::string_view::npos;
       hit = text.find("From ", hit + 5)) {
    std::size_t lineStart = hit;
    while (lineStart > 0 && text[lineStart - 1] == '>') --lineStart;
    if (lineStart != 0 && text[lineStart - 1] != '\n') continue;
    emit(text.substr(copied, lineStart - copied));
    emit(kQuote);
    copied = lineStart;
  }
  emit(text.substr(copied));
}

// The text without a first line that already is an mbox envelope line; the
// record's own From line takes its place. Any other first line, even one
// that begins with "From ", is part of the message and is kept.
std::string_view WithoutEnvelopeLine(std::string_view text) {
  return text.substr(EnvelopeLineLength(text));
}

// The bytes of one record as pieces that point into its From line and text,
// so that a message is not copied once more before it is written.
class RecordPieces {
 public:
  explicit RecordPieces(const MboxRecord& record) {
    static constexpr std::string_view kLineEnd = "\r\n";
    Add(record.fromLine);
    Add(kLineEnd);
    QuotedPieces(WithoutEnvelopeLine(record.text), [this](std::string_view piece) { Add(piece); });
    Add(kLineEnd);
  }

  std::vector<iovec>& pieces() { return pieces_; }

  // All pieces joined, for a record of more pieces than one write takes.
  std::string Joined() const {
    std::string joined;
    joined.reserve(size_);
    for (const iovec& piece : pieces_)
      joined.append(static_cast<const char*>(piece.iov_base), piece.iov_len);
    return joined;
  }

 private:
  void Add(std::string_view piece) {
    if (piece.empty()) return;
    pieces_.push_back({const_cast<char*>(piece.data()), piece.size()});
    size_ += piece.size();
  }

  std::vector<iovec> pieces_;
  std::size_t size_ = 0;
};

class AppendFile {
 public:
  explicit AppendFile(const std::string& path) {
    do {
      fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw MessageFailure(Reason("cannot open", errno));
  }
  ~AppendFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // The file's length: where the next write will start, the file being
  // opened for appending.
  off_t Size() const {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) throw MessageFailure(Reason("cannot write", errno));
    return end;
  }

  // Writes all of bytes; returns 0, or the errno of the write that failed.
  int WriteAll(std::string_view bytes) {
    iovec piece{const_cast<char*>(bytes.data()), bytes.size()};
    return bytes.empty() ? 0 : WriteAll(&piece, 1);
  }

  // Writes all of the count pieces (at most IOV_MAX), normally with one
  // writev; a short write goes on where it stopped. Returns 0, or the errno
  // of the write that failed. The pieces are used up.
  int WriteAll(iovec* piece, int count) {
    while (count > 0) {
      const ssize_t written = ::writev(fd_, piece, count);
      if (written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (written == 0) return EIO;
      auto left = static_cast<std::size_t>(written);
      while (count > 0 && left >= piece->iov_len) {
        left -= piece->iov_len;
        ++piece;
        --count;
      }
      if (count > 0) {
        piece->iov_base = static_cast<char*>(piece->iov_base) + left;
        piece->iov_len -= left;
      }
    }
    return 0;
  }

  int CutBack(off_t size) { return ::ftruncate(fd_, size) == 0 ? 0 : errno; }

  // Closes the file; returns 0 or the errno of the failed close.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

// Reads the charset (kept in state), the date and the sender from the
// message reader in the slot, in that order, and empties the slot: the next
// message gets a fresh reader. Gives the From line.
std::string TakeFromLine(ReaderState& state) {
  state.charsetName = state.messageReader->MessageCharset();
  const MessageDateTime date = state.messageReader->MessageDate();
  const std::string sender = state.messageReader->SenderAddress();
  state.messageReader.reset();
  return FormatFromLine(sender, date);
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
  char text[96];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDays[wd.c_encoding()],
                kMonths[month - 1], date.day, date.hour, date.minute, date.second, date.year);
  return "From " + sender + " " + text;
}

MboxRecord ReadMessageRecordFromBytes(std::string bytes, long long fallbackTime, ReaderState& state,
                                      const YieldFunction& yield) {
  if (!state.messageReader) state.messageReader = std::make_unique<MessageReader>();
  state.messageReader->OpenMessageBytes(bytes, fallbackTime);
  MboxRecord record;
  record.fromLine = TakeFromLine(state);
  if (yield) yield();
  record.text = std::move(bytes);
  return record;
}

MboxRecord ReadMessageRecord(const std::string& sourceFile, ReaderState& state,
                             const YieldFunction& yield) {
  if (!state.messageReader) state.messageReader = std::make_unique<MessageReader>();
  if (!state.textFileReader) state.textFileReader = std::make_unique<TextFileReader>();
  // The file is read from disk once: the header values come from the same
  // bytes that the text reader hands over below. A file that cannot be read
  // fails there, with the reason; until then its answers are the message
  // reader's defaults.
  long long modificationTime = 0;
  if (const std::string* bytes = state.textFileReader->Prefetch(sourceFile, modificationTime))
    state.messageReader->OpenMessageBytes(*bytes, modificationTime);
  else
    state.messageReader->OpenMessageFile(sourceFile);
  MboxRecord record;
  record.fromLine = TakeFromLine(state);

  if (yield) {
    try {
      yield();
    } catch (...) {
      // The text will not be asked for; its bytes must not linger.
      state.textFileReader->DropPrefetched();
      throw;
    }
  }

  record.text = state.textFileReader->ReadTextFile(sourceFile, state.charsetName);
  return record;
}

void AppendMboxRecord(const std::string& mboxFile, const MboxRecord& record,
                      const YieldFunction& yield) {
  // A line break inside the From line would split the record in two.
  if (record.fromLine.find_first_of("\r\n") != std::string::npos)
    throw MessageFailure("the From line holds a line break");

  // The whole record goes out in one write, so a failure can be undone by
  // cutting the file back and no reader ever sees half a record. The write
  // gathers the record from its pieces; only a record of more pieces than
  // one write takes (a text with very many quoted lines) is joined first.
  RecordPieces recordPieces(record);
  std::string joined;
  if (recordPieces.pieces().size() > static_cast<std::size_t>(IOV_MAX))
    joined = recordPieces.Joined();

  AppendFile file(mboxFile);
  if (yield) yield();

  // The size is taken after the yield, right before writing, so that a cut
  // back never removes what was appended while this record waited.
  const off_t before = file.Size();
  std::vector<iovec>& pieces = recordPieces.pieces();
  const int writeError = joined.empty()
                             ? file.WriteAll(pieces.data(), static_cast<int>(pieces.size()))
                             : file.WriteAll(joined);
  if (const int error = writeError) {
    std::string reason = Reason("cannot write", error);
    if (const int cutError = file.CutBack(before))
      reason += "; the mailbox could not be cut back: " + std::string(std::strerror(cutError));
    file.Close();
    throw MessageFailure(reason);
  }
  if (const int error = file.Close()) {
    // A failed close can mean that the data never reached the disk in full;
    // cutting back by name keeps the mailbox at a record boundary.
    std::string reason = Reason("cannot close", error);
    if (::truncate(mboxFile.c_str(), before) != 0)
      reason += "; the mailbox could not be cut back: " + std::string(std::strerror(errno));
    throw MessageFailure(reason);
  }
}

}  // namespace quillfen
