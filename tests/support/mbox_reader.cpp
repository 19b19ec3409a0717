#include "tests/support/mbox_reader.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>
#include <regex>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct GFreeDeleter {
  void operator()(gpointer memory) const { g_free(memory); }
};

void InitGMimeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

bool StartsWithFrom(std::string_view text, std::size_t at) {
  return text.compare(at, 5, "From ") == 0;
}

}  // namespace

std::vector<StoredRecord> ReadMbox(const std::filesystem::path& mboxFile) {
  InitGMimeOnce();
  // The whole file is held in memory so that the stored bytes can be cut out
  // by the offsets the parser reports, untouched by any of its decoding.
  const std::string bytes = ReadFile(mboxFile);
  std::vector<StoredRecord> records;
  if (bytes.empty()) return records;
  if (!StartsWithFrom(bytes, 0))
    throw std::runtime_error(mboxFile.string() + ": does not start with a From line");

  // The memory stream copies the bytes, so it does not depend on our string.
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MBOX);

  while (!g_mime_parser_eos(parser.get())) {
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) {
      throw std::runtime_error(mboxFile.string() + ": the mbox parser could not read record " +
                               std::to_string(records.size()) +
                               " (counted from 0; does its text begin with a header?)");
    }
    std::unique_ptr<char, GFreeDeleter> marker(g_mime_parser_get_mbox_marker(parser.get()));
    const auto begin = static_cast<std::size_t>(g_mime_parser_get_headers_begin(parser.get()));
    const auto end = static_cast<std::size_t>(g_mime_parser_tell(parser.get()));
    if (begin > end || end > bytes.size())
      throw std::runtime_error(mboxFile.string() + ": the parser reported impossible offsets");

    StoredRecord record;
    record.fromLine = marker ? marker.get() : "";
    if (!record.fromLine.empty() && record.fromLine.back() == '\r') record.fromLine.pop_back();
    const std::string_view stored(bytes.data() + begin, end - begin);
    if (stored.size() < 2 || stored.substr(stored.size() - 2) != "\r\n") {
      throw std::runtime_error(mboxFile.string() + ": record " + std::to_string(records.size()) +
                               " does not end with CR LF");
    }
    record.text = std::string(stored.substr(0, stored.size() - 2));
    records.push_back(std::move(record));
  }
  return records;
}

std::string UnquoteMboxrd(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    std::size_t lineEnd = text.find('\n', lineStart);
    lineEnd = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    const std::size_t arrows = line.find_first_not_of('>');
    if (arrows != 0 && arrows != std::string_view::npos && StartsWithFrom(line, arrows))
      out.append(line.substr(1));
    else
      out.append(line);
    lineStart = lineEnd;
  }
  return out;
}

std::string WithoutEnvelopeLine(std::string_view emlBytes) {
  // Written apart from the converter's own recognizer, for the forms the
  // tests use: sender, asctime-like date, a zone before or after the year.
  static const std::regex kEnvelope(
      "From [^ \t\r\n]+[ \t]+(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) +[0-9]{1,2} "
      "[0-9]{1,2}:[0-9]{2}(:[0-9]{2})?( [A-Z]{2,5}| [+-][0-9]{4})? [0-9]{4}"
      "( [A-Z]{2,5}| [+-][0-9]{4})?\r?\n");
  const std::size_t lineEnd = emlBytes.find('\n');
  if (!StartsWithFrom(emlBytes, 0) || lineEnd == std::string_view::npos)
    return std::string(emlBytes);
  const std::string firstLine(emlBytes.substr(0, lineEnd + 1));
  if (!std::regex_match(firstLine, kEnvelope)) return std::string(emlBytes);
  return std::string(emlBytes.substr(lineEnd + 1));
}

}  // namespace quillfen::test
