#include "convert/message_readers.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>

#include "convert/message_failure.h"

namespace quillfen {
namespace {

// The header block is read in pieces of this size until its end is found,
// so a message costs one small read before its whole-file copy.
constexpr std::size_t kHeaderChunk = 8192;
// A file whose first empty line comes later than this is not a sensible
// message; the answers are then taken from its first bytes only, so that a
// huge file without an empty line is not read twice in full.
constexpr std::size_t kHeaderLimit = 1024 * 1024;

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct GFreeDeleter {
  void operator()(gpointer memory) const { g_free(memory); }
};

struct GDateTimeDeleter {
  void operator()(GDateTime* value) const { g_date_time_unref(value); }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeDeleter>;

// GMime keeps global tables that must be set up once before first use; a
// function-local static makes that thread-safe.
void EnsureGMime() {
  static const bool initialised = [] {
    g_mime_init();
    return true;
  }();
  (void)initialised;
}

// Closes a file descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenForReading(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads up to size bytes; returns the count read (0 at the end of the file)
// or -1 with errno set.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// The end of the header block in text: the offset just past the first empty
// line, searching from `from`; npos when there is none yet. An empty first
// line means the message has no headers at all.
std::size_t HeaderBlockEnd(std::string_view text, std::size_t from) {
  if (from == 0) {
    if (text.starts_with("\n")) return 1;
    if (text.starts_with("\r\n")) return 2;
  }
  for (std::size_t at = text.find('\n', from); at != std::string_view::npos;
       at = text.find('\n', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == '\n') return at + 2;
    if (at + 2 < text.size() && text[at + 1] == '\r' && text[at + 2] == '\n') return at + 3;
  }
  return std::string_view::npos;
}

// A first line that already is an mbox "From " line is no header; GMime
// would take it for the start of the body and see no headers at all.
std::string_view WithoutEnvelopeLine(std::string_view bytes) {
  if (!bytes.starts_with("From ")) return bytes;
  const std::size_t lineEnd = bytes.find('\n');
  return lineEnd == std::string_view::npos ? std::string_view() : bytes.substr(lineEnd + 1);
}

MessageDateTime FromLocalTime(long long seconds) {
  const std::time_t value = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&value, &local) == nullptr) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::optional<MessageDateTime> DecodeDate(const char* text) {
  if (text == nullptr) return std::nullopt;
  GDateTimePtr parsed(g_mime_utils_header_decode_date(text));
  if (!parsed) return std::nullopt;
  // The getters answer in the date's own zone, so no conversion happens.
  return MessageDateTime{
      g_date_time_get_year(parsed.get()),         g_date_time_get_month(parsed.get()),
      g_date_time_get_day_of_month(parsed.get()), g_date_time_get_hour(parsed.get()),
      g_date_time_get_minute(parsed.get()),       g_date_time_get_second(parsed.get())};
}

// text without anything that could break the From line apart or be taken
// for a field separator by an mbox reader: white space (also the Unicode
// kinds) and control characters of any kind are dropped.
std::string WithoutSpaceOrControls(const char* address) {
  std::string clean;
  if (address == nullptr) return clean;
  const std::string_view text(address);
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    for (const char* p = text.data(); *p != '\0'; p = g_utf8_next_char(p)) {
      const gunichar c = g_utf8_get_char(p);
      if (g_unichar_isspace(c) || g_unichar_iscntrl(c)) continue;
      clean.append(p, g_utf8_next_char(p) - p);
    }
  } else {
    for (const unsigned char c : text) {
      if (c <= 0x20 || c == 0x7F) continue;
      clean.push_back(static_cast<char>(c));
    }
  }
  return clean;
}

// The first mailbox's address in list, looking into groups too; empty when
// there is none.
std::string FirstMailbox(InternetAddressList* list) {
  if (list == nullptr) return {};
  const int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);
    std::string found;
    if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      found = WithoutSpaceOrControls(
          internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
      found = FirstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)));
    }
    if (!found.empty()) return found;
  }
  return {};
}

std::string AddressFromHeader(GMimeHeaderList* headers, const char* name) {
  GMimeHeader* header = g_mime_header_list_get_header(headers, name);
  if (header == nullptr) return {};
  const char* raw = g_mime_header_get_raw_value(header);
  if (raw == nullptr) return {};
  // The address parser wants UTF-8; 8-bit bytes in another charset are
  // converted first, the way GMime decodes such header text elsewhere.
  std::unique_ptr<char, GFreeDeleter> converted;
  if (!g_utf8_validate(raw, -1, nullptr)) {
    converted.reset(g_mime_utils_decode_8bit(nullptr, raw, std::strlen(raw)));
    if (converted) raw = converted.get();
  }
  GObjectPtr<InternetAddressList> list(internet_address_list_parse(nullptr, raw));
  return FirstMailbox(list.get());
}

}  // namespace

struct MessageReader::Impl {
  std::string charset = "us-ascii";
  MessageDateTime date;
  std::string sender = "MAILER-DAEMON";

  // Parses a header block (without an envelope line) and takes the three
  // answers from it; fallbackTime stands in for a missing date.
  void Load(std::string_view headerBlock, long long fallbackTime) {
    *this = Impl();
    date = FromLocalTime(fallbackTime);
    EnsureGMime();

    // The parser wants a complete header block; one cut short by the end of
    // the file or by the size limit gets its empty line here.
    std::string block(headerBlock);
    if (HeaderBlockEnd(block, 0) == std::string::npos) {
      if (!block.empty() && block.back() != '\n') block += '\n';
      block += '\n';
    }
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(block.data(), block.size()));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeObject> part(g_mime_parser_construct_part(parser.get(), nullptr));
    if (!part) return;

    const char* named = g_mime_object_get_content_type_parameter(part.get(), "charset");
    if (named != nullptr && *named != '\0') charset = WithoutSpaceOrControls(named);
    if (charset.empty()) charset = "us-ascii";

    GMimeHeaderList* headers = g_mime_object_get_header_list(part.get());
    date = HeaderDate(headers).value_or(date);

    for (const char* name : {"Return-Path", "From", "Sender"}) {
      std::string address = AddressFromHeader(headers, name);
      if (!address.empty()) {
        sender = std::move(address);
        break;
      }
    }
  }

  // The Date header, else the date after the last ";" of the topmost (newest)
  // Received header.
  static std::optional<MessageDateTime> HeaderDate(GMimeHeaderList* headers) {
    if (GMimeHeader* header = g_mime_header_list_get_header(headers, "Date")) {
      if (auto parsed = DecodeDate(g_mime_header_get_value(header))) return parsed;
    }
    if (GMimeHeader* header = g_mime_header_list_get_header(headers, "Received")) {
      const char* value = g_mime_header_get_value(header);
      const char* semicolon = value ? std::strrchr(value, ';') : nullptr;
      if (semicolon != nullptr) return DecodeDate(semicolon + 1);
    }
    return std::nullopt;
  }
};

MessageReader::MessageReader() : impl_(std::make_unique<Impl>()) {}
MessageReader::~MessageReader() = default;

bool MessageReader::OpenMessageFile(const std::string& path) {
  *impl_ = Impl();
  FileDescriptor fd(OpenForReading(path));
  if (fd.get() < 0) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return false;

  std::string bytes;
  std::size_t headerEnd = std::string::npos;
  while (headerEnd == std::string::npos && bytes.size() < kHeaderLimit) {
    const std::size_t before = bytes.size();
    bytes.resize(before + kHeaderChunk);
    const ssize_t got = ReadSome(fd.get(), bytes.data() + before, kHeaderChunk);
    if (got < 0) return false;
    bytes.resize(before + static_cast<std::size_t>(got));
    if (got == 0) break;
    // An empty line may straddle two pieces, so the search steps back a little.
    headerEnd = HeaderBlockEnd(bytes, before < 2 ? 0 : before - 2);
  }
  std::string_view block(bytes);
  if (headerEnd != std::string::npos) block = block.substr(0, headerEnd);
  impl_->Load(WithoutEnvelopeLine(block), static_cast<long long>(info.st_mtime));
  return true;
}

bool MessageReader::OpenMessageBytes(std::string_view bytes, long long fallbackTime) {
  bytes = WithoutEnvelopeLine(bytes);
  const std::size_t headerEnd = HeaderBlockEnd(bytes.substr(0, kHeaderLimit), 0);
  if (headerEnd != std::string_view::npos)
    bytes = bytes.substr(0, headerEnd);
  else
    bytes = bytes.substr(0, kHeaderLimit);
  impl_->Load(bytes, fallbackTime);
  return true;
}

std::string MessageReader::MessageCharset() const {
  return impl_->charset;
}
MessageDateTime MessageReader::MessageDate() const {
  return impl_->date;
}
std::string MessageReader::SenderAddress() const {
  return impl_->sender;
}

std::string TextFileReader::ReadTextFile(const std::string& path, const std::string& /*charset*/) {
  // The charset is not used: the text is kept in the message's own encoding,
  // which its headers name for whoever imports the mailbox.
  FileDescriptor fd(OpenForReading(path));
  if (fd.get() < 0) throw MessageFailure(std::string("cannot open: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    throw MessageFailure(std::string("cannot read: ") + std::strerror(errno));

  // One read normally does it; the loop also copes with short reads and with
  // a file that grew since fstat, so the text is always the whole file.
  std::string text;
  std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096;
  text.resize(capacity);
  std::size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      capacity *= 2;
      text.resize(capacity);
    }
    const ssize_t got = ReadSome(fd.get(), text.data() + filled, capacity - filled);
    if (got < 0) throw MessageFailure(std::string("cannot read: ") + std::strerror(errno));
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  text.resize(filled);
  return text;
}

}  // namespace quillfen
