#include "source/message_readers.h"

#include <gmime/gmime.h>

#include <array>
#include <ctime>
#include <optional>
#include <unordered_map>

#include "mbox/envelope_line.h"
#include "mbox/message_failure.h"
#include "os/local_time.h"

namespace quillfen {
namespace {

// A file whose first empty line comes later than this is not a sensible
// message; the answers are then taken from its first bytes only, so that a
// huge file without an empty line is not read twice in full.
constexpr std::size_t kHeaderLimit = std::size_t{1} << 20;

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

// A first line that is an mbox envelope line is no header, so the header
// block starts after it.
std::string_view WithoutEnvelopeLine(std::string_view bytes) {
  return bytes.substr(EnvelopeLineLength(bytes));
}

MessageDateTime FromLocalTime(long long seconds) {
  const std::optional<std::tm> local = os::LocalTime(seconds);
  if (!local) return {};
  return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
          local->tm_hour,        local->tm_min,     local->tm_sec};
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

// Header text as UTF-8, which GMime's value parsers expect; 8-bit bytes in
// another charset are converted the way GMime decodes such header text. The
// text ends with a NUL, in room, which the reader keeps from message to
// message so that it stops allocating once grown.
const char* AsUtf8(std::string_view value, std::string& room) {
  if (g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
    room.assign(value);
  } else {
    std::unique_ptr<char, GFreeDeleter> converted(
        g_mime_utils_decode_8bit(nullptr, value.data(), value.size()));
    room.assign(converted ? converted.get() : "");
  }
  return room.c_str();
}

std::string FirstAddress(std::string_view value, std::string& room) {
  if (value.empty()) return {};
  GObjectPtr<InternetAddressList> list(internet_address_list_parse(nullptr, AsUtf8(value, room)));
  return FirstMailbox(list.get());
}

// Header values are looked up by view: a value seen before costs no copy.
struct ValueHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view value) const {
    return std::hash<std::string_view>{}(value);
  }
};

// An export repeats a few senders thousands of times, and building GMime's
// objects for a value costs more than copying a typical message. The answer
// for a header value depends on the value alone, so the answers for
// recently seen values are kept by each reader, and GMime parses each distinct
// value once. The cache is emptied when it fills, which keeps its memory
// bounded whatever the export holds.
//
// It belongs to the reader, not to its thread: on Windows a thread_local
// object that owns memory damages the heap when its thread ends (mingw's
// emulated thread storage is freed before the object's destructor runs),
// so the core keeps no such object.
class AnswerCache {
 public:
  // Valid until the next call.
  template <typename Parse>
  const std::string& Get(std::string_view value, Parse parse) {
    if (const auto known = answers_.find(value); known != answers_.end()) return known->second;
    if (answers_.size() >= kLimit) answers_.clear();
    return answers_.emplace(std::string(value), parse(value)).first->second;
  }

 private:
  static constexpr std::size_t kLimit = 2048;
  std::unordered_map<std::string, std::string, ValueHash, std::equal_to<>> answers_;
};

// The first occurrence of each header field the answers come from, unfolded.
//
// GMime's full parser builds an object for every header and every MIME part
// and costs several times the copying of a typical message; the header block
// is therefore only cut into fields here, and each value is then parsed by
// GMime's own value parsers.
//
// A value on one line is seen where it lies in the block; a folded one is
// unfolded into room that the reader keeps from message to message, so
// that taking a message's fields allocates nothing once the room has grown.
struct HeaderFields {
  static constexpr std::size_t kCount = 5;
  using Room = std::array<std::string, kCount>;
  std::string_view date, received, returnPath, from, sender;

  // block may go on past the header block: the fields end at its first
  // empty line. Folded values are views into unfolded.
  HeaderFields(std::string_view block, Room& unfolded) {
    std::string_view* current = nullptr;
    std::string* room = nullptr;
    std::size_t lineStart = 0;
    while (lineStart < block.size()) {
      std::size_t lineEnd = block.find('\n', lineStart);
      lineEnd = lineEnd == std::string_view::npos ? block.size() : lineEnd + 1;
      std::string_view line = block.substr(lineStart, lineEnd - lineStart);
      lineStart = lineEnd;
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
      if (line.empty()) break;  // the empty line that ends the header block
      if (line.front() == ' ' || line.front() == '\t') {
        // A folded line continues the field before it; unfolding drops only
        // the line break.
        if (current != nullptr) {
          if (current->data() != room->data()) room->assign(*current);
          room->append(line);
          *current = *room;
        }
        continue;
      }
      current = nullptr;
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;  // not a field; skipped
      std::string_view name = line.substr(0, colon);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      if (const std::size_t slot = Slot(name); slot < kCount) {
        current = Fields()[slot];
        room = &unfolded[slot];
        *current = line.substr(colon + 1);
      }
    }
  }

 private:
  std::array<bool, kCount> seen_{};

  std::array<std::string_view*, kCount> Fields() {
    return {&date, &received, &returnPath, &from, &sender};
  }

  // Which field a field named name is; kCount for fields that are not
  // needed and for repeats, since the first occurrence counts.
  std::size_t Slot(std::string_view name) {
    static constexpr std::array<std::string_view, kCount> kNames = {
        "Date", "Received", "Return-Path", "From", "Sender"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      if (name.size() == kNames[i].size() &&
          g_ascii_strncasecmp(name.data(), kNames[i].data(), name.size()) == 0) {
        if (seen_[i]) return kCount;
        seen_[i] = true;
        return i;
      }
    }
    return kCount;
  }
};

// The Date field, else the date after the last ";" of the topmost (newest)
// Received field.
std::optional<MessageDateTime> DateOf(const HeaderFields& fields, std::string& room) {
  if (!fields.date.empty()) {
    if (auto parsed = DecodeDate(AsUtf8(fields.date, room))) return parsed;
  }
  const std::size_t semicolon = fields.received.rfind(';');
  if (semicolon != std::string_view::npos)
    return DecodeDate(AsUtf8(fields.received.substr(semicolon + 1), room));
  return std::nullopt;
}

}  // namespace

struct MessageReader::Impl {
  MessageDateTime date;
  std::string sender;
  // Kept from message to message (see HeaderFields, AsUtf8, AnswerCache).
  HeaderFields::Room unfolded;
  std::string utf8;
  AnswerCache addresses;

  // Takes the answers from the header block at the start of bytes (without
  // an envelope line), which ends at its first empty line; fallbackTime
  // stands in for a missing date.
  void Load(std::string_view headerBlock, long long fallbackTime) {
    EnsureGMime();

    const HeaderFields fields(headerBlock, unfolded);
    const std::optional<MessageDateTime> headerDate = DateOf(fields, utf8);
    date = headerDate ? *headerDate : FromLocalTime(fallbackTime);
    sender = "MAILER-DAEMON";
    for (const std::string_view value : {fields.returnPath, fields.from, fields.sender}) {
      if (value.empty()) continue;
      const std::string& address =
          addresses.Get(value, [this](std::string_view text) { return FirstAddress(text, utf8); });
      if (!address.empty()) {
        sender = address;
        break;
      }
    }
  }
};

MessageReader::MessageReader() : impl_(std::make_unique<Impl>()) {}
MessageReader::~MessageReader() = default;

bool MessageReader::OpenMessageBytes(std::string_view bytes, long long fallbackTime) {
  // The fields are taken up to the first empty line, which ends the header
  // block, in one pass over it.
  impl_->Load(WithoutEnvelopeLine(bytes).substr(0, kHeaderLimit), fallbackTime);
  return true;
}

MessageDateTime MessageReader::MessageDate() const {
  return impl_->date;
}
const std::string& MessageReader::SenderAddress() const {
  return impl_->sender;
}

}  // namespace quillfen
