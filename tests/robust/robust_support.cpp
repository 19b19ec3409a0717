#include "tests/robust/robust_support.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <regex>
#include <set>
#include <system_error>

#include "destination/mirror_paths.h"
#include "mbox/message_failure.h"
#include "os/paths.h"
#include "source/folder_walker.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

std::uint64_t Fnv1a(std::string_view bytes) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string Fingerprint(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::exists(status)) return "gone";
  std::string print = std::to_string(static_cast<int>(status.type())) + " " +
                      std::to_string(static_cast<unsigned>(status.permissions()));
  if (fs::is_symlink(status)) return print + " -> " + Utf8(fs::read_symlink(path, ec));
  print += " " + std::to_string(fs::last_write_time(path, ec).time_since_epoch().count());
  if (fs::is_regular_file(status))
    print +=
        " " + std::to_string(fs::file_size(path, ec)) + " " + std::to_string(Fnv1a(ReadFile(path)));
  return print;
}

bool StartsWithHeaderLine(std::string_view text) {
  if (text.starts_with("\n") || text.starts_with("\r\n")) return true;
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](char c) { return c > ' ' && c < 127; });
}

std::string ExpectedMailboxOf(const std::string& sourceFile, const std::string& destinationRoot) {
  try {
    return MboxFileFor(MirrorFolderFor(sourceFile, destinationRoot));
  } catch (const MessageFailure&) {
    return {};
  }
}

std::string Shown(std::string_view text) {
  std::string shown;
  for (const unsigned char c : text.substr(0, 80)) {
    if (c >= 0x20 && c < 0x7F) {
      shown.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

bool IsMessageName(const std::string& name) {
  std::string trimmed = name;
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
  if (trimmed.size() < 4) return false;
  std::string tail = trimmed.substr(trimmed.size() - 4);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == ".eml";
}

}  // namespace

std::map<std::string, std::string> SnapshotTree(const fs::path& root, const fs::path& skip) {
  std::map<std::string, std::string> snapshot;
  snapshot["."] = Fingerprint(root);
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none);
       it != fs::recursive_directory_iterator(); ++it) {
    if (!skip.empty() && it->path() == skip) {
      it.disable_recursion_pending();
      continue;
    }
    snapshot[Utf8(it->path().lexically_relative(root))] = Fingerprint(it->path());
  }
  return snapshot;
}

bool SplitMbox(std::string_view bytes, std::vector<SplitRecord>& records, std::string& reason) {
  records.clear();
  if (bytes.empty()) return true;
  if (!bytes.starts_with("From ")) {
    reason = "does not start with a From line";
    return false;
  }
  // Record starts: the file's start and every line that begins "From ".
  std::vector<std::size_t> starts{0};
  for (std::size_t at = bytes.find("\nFrom "); at != std::string_view::npos;
       at = bytes.find("\nFrom ", at + 1))
    starts.push_back(at + 1);
  starts.push_back(bytes.size());
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    const std::string_view record = bytes.substr(starts[i], starts[i + 1] - starts[i]);
    const std::size_t lineEnd = record.find("\r\n");
    if (lineEnd == std::string_view::npos || record.find('\n') != lineEnd + 1) {
      reason = "record " + std::to_string(i) + ": From line not ended by CR LF";
      return false;
    }
    if (!record.ends_with("\r\n") || record.size() < lineEnd + 4) {
      reason = "record " + std::to_string(i) + " is not closed by CR LF (cut short?)";
      return false;
    }
    SplitRecord split;
    split.fromLine = std::string(record.substr(0, lineEnd));
    split.quotedText = std::string(record.substr(lineEnd + 2, record.size() - lineEnd - 4));
    records.push_back(std::move(split));
  }
  return true;
}

bool IsWellFormedFromLine(const std::string& line) {
  static const std::regex kPattern(
      "From [\\x21-\\x7e\\x80-\\xff]+ (Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "(0[1-9]|[12][0-9]|3[01]) ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] [0-9]{4}");
  return std::regex_match(line, kPattern);
}

TreeConversion ConvertTree(const fs::path& source, const fs::path& destination) {
  FolderWalker walker;
  walker.Walk(Utf8(source));
  ConversionRequest request;
  request.source = Utf8(source);
  request.destination = Utf8(destination);
  request.scanned = walker.queue();
  TreeConversion result;
  for (const std::string& name : *request.scanned) result.queue.push_back(name);
  ConversionSink sink;
  result.report = Convert(request, {}, sink);
  return result;
}

std::vector<std::string> WalkQueue(const fs::path& source) {
  FolderWalker walker;
  walker.Walk(Utf8(source));
  return std::vector<std::string>(walker.queue()->begin(), walker.queue()->end());
}

ConversionReport ReportFromCliOutput(const std::string& out) {
  ConversionReport report;
  constexpr std::string_view kPrefix = "Not converted: ";
  std::size_t lineStart = 0;
  while (lineStart < out.size()) {
    std::size_t lineEnd = out.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = out.size();
    const std::string_view line(out.data() + lineStart, lineEnd - lineStart);
    // Message names end in ".eml", which tells where the file name stops.
    const std::size_t split = line.find(".eml: ");
    if (line.starts_with(kPrefix) && split != std::string_view::npos) {
      report.failures.push_back(
          {std::string(line.substr(kPrefix.size(), split + 4 - kPrefix.size())),
           std::string(line.substr(split + 6)),
           {}});
    }
    lineStart = lineEnd + 1;
  }
  return report;
}

std::vector<std::string> CheckMailboxes(const fs::path& destination,
                                        const std::vector<std::string>& queue,
                                        const ConversionReport* report, RunEnd end,
                                        std::vector<fs::path>* cutShort) {
  const bool interrupted = end != RunEnd::Finished;
  std::vector<std::string> problems;
  const std::string root = AddTrailingSeparator(Utf8(destination));

  std::set<std::string> failed;
  // Folders written under another name, to stay apart on a Mac, as the
  // report lists them: the mailbox each one's messages went to instead.
  std::map<std::string, std::string> renamed;
  if (report != nullptr) {
    for (const FailedMessage& failure : report->failures) failed.insert(failure.file);
    for (const ConversionReport::Renamed& rename : report->renamedMailboxes)
      renamed[rename.wanted] = rename.mailbox;
  }

  // What each mailbox should hold, in queue order.
  std::map<std::string, std::vector<std::string>> expected;
  for (const std::string& name : queue) {
    if (!IsMessageName(name) || failed.count(name) != 0) continue;
    std::string mailbox = ExpectedMailboxOf(name, root);
    if (const auto other = renamed.find(ExtractParentPath(mailbox));
        !mailbox.empty() && other != renamed.end())
      mailbox = other->second;
    if (mailbox.empty()) {
      problems.push_back(name + ": converted, but no mailbox can be derived for it");
      continue;
    }
    expected[mailbox].push_back(name);
  }

  for (const fs::path& mailbox : FindMailboxes(destination)) {
    const std::string bytes = ReadFile(mailbox);
    std::vector<SplitRecord> records;
    std::string reason;
    // After a kill, the bytes of the record being written may stop short:
    // they are set aside and compared as a leading part of their message.
    std::optional<std::string> partial;
    const std::size_t finalLf = bytes.rfind('\n');
    const std::string_view finalLine =
        std::string_view(bytes).substr(finalLf == std::string::npos ? 0 : finalLf + 1);
    if (end == RunEnd::Killed && !finalLine.empty() && finalLine.size() < 5 &&
        std::string_view("From ").starts_with(finalLine)) {
      // The cut fell inside the next record's "From ".
      if (!SplitMbox(std::string_view(bytes).substr(0, bytes.size() - finalLine.size()), records,
                     reason)) {
        problems.push_back(Utf8(mailbox) + ": " + reason);
        continue;
      }
      partial = std::string();
    } else if (!SplitMbox(bytes, records, reason)) {
      const std::size_t lastFrom = bytes.rfind("\nFrom ");
      const std::size_t lastStart = lastFrom == std::string::npos ? 0 : lastFrom + 1;
      if (end != RunEnd::Killed ||
          !SplitMbox(std::string_view(bytes).substr(0, lastStart), records, reason)) {
        problems.push_back(Utf8(mailbox) + ": " + reason);
        continue;
      }
      const std::string tail = bytes.substr(lastStart);
      const std::size_t lineEnd = tail.find("\r\n");
      partial = lineEnd == std::string::npos ? std::string() : tail.substr(lineEnd + 2);
    } else if (end == RunEnd::Killed && !records.empty()) {
      // A cut that happens to fall right after a CR LF of the text looks
      // like a closed record; only its content tells.
      const std::vector<std::string>& sources = expected[Utf8(mailbox)];
      const std::size_t last = records.size() - 1;
      if (last < sources.size() && UnquoteMboxrd(records[last].quotedText) !=
                                       WithoutEnvelopeLine(ReadFile(PathOf(sources[last])))) {
        partial = records[last].quotedText + "\r\n";
        records.pop_back();
      }
    }
    const std::vector<std::string>& sources = expected[Utf8(mailbox)];
    if (partial) {
      if (records.size() >= sources.size()) {
        problems.push_back(Utf8(mailbox) + ": a cut-short record beyond its messages");
      } else {
        // Only whole lines are compared: unquoting needs the whole line.
        const std::string want = WithoutEnvelopeLine(ReadFile(PathOf(sources[records.size()])));
        const std::size_t lastLf = partial->rfind('\n');
        const std::string lines =
            UnquoteMboxrd(lastLf == std::string::npos ? "" : partial->substr(0, lastLf + 1));
        if (!want.starts_with(lines))
          problems.push_back(Utf8(mailbox) +
                             ": its cut-short last record is not a leading part of " +
                             sources[records.size()]);
        if (cutShort != nullptr) cutShort->push_back(mailbox);
      }
    }
    const bool countOk =
        interrupted ? records.size() <= sources.size() : records.size() == sources.size();
    if (!countOk) {
      problems.push_back(Utf8(mailbox) + ": holds " + std::to_string(records.size()) +
                         " records, expected " + std::to_string(sources.size()));
    }
    bool allStartWithHeaders = true;
    for (std::size_t i = 0; i < records.size() && i < sources.size(); ++i) {
      const SplitRecord& record = records[i];
      if (!IsWellFormedFromLine(record.fromLine))
        problems.push_back(Utf8(mailbox) + ": malformed From line " + Shown(record.fromLine));
      const std::string want = WithoutEnvelopeLine(ReadFile(PathOf(sources[i])));
      if (UnquoteMboxrd(record.quotedText) != want) {
        problems.push_back(Utf8(mailbox) + ": record " + std::to_string(i) +
                           " is not the whole of " + sources[i] + " (stored " +
                           std::to_string(record.quotedText.size()) + " bytes, source " +
                           std::to_string(want.size()) + ")");
      }
      allStartWithHeaders = allStartWithHeaders && StartsWithHeaderLine(record.quotedText);
    }
    // GMime's parser only reads records whose text begins with a header, so
    // it is asked only when every record does, and only of whole files.
    if (allStartWithHeaders && !records.empty() && !partial) {
      try {
        const std::vector<StoredRecord> parsed = ReadMbox(mailbox);
        if (parsed.size() != records.size()) {
          problems.push_back(Utf8(mailbox) + ": GMime reads " + std::to_string(parsed.size()) +
                             " records, the splitter " + std::to_string(records.size()));
        } else {
          for (std::size_t i = 0; i < parsed.size(); ++i) {
            if (parsed[i].text != records[i].quotedText ||
                parsed[i].fromLine != records[i].fromLine)
              problems.push_back(Utf8(mailbox) + ": GMime and the splitter disagree on record " +
                                 std::to_string(i));
          }
        }
      } catch (const std::exception& e) {
        problems.push_back(std::string("GMime cannot read it: ") + e.what());
      }
    }
    expected.erase(Utf8(mailbox));
  }
  if (!interrupted) {
    for (const auto& [mailbox, sources] : expected)
      problems.push_back(mailbox + ": missing, though " + std::to_string(sources.size()) +
                         " messages belong in it");
  }
  return problems;
}

}  // namespace quillfen::test
