// Writes a synthetic mail export shaped like an extracted Zimbra Desktop
// export, for benchmarks that need many realistic messages.
//
//   gen_export OUTDIR [--messages N] [--folders F] [--seed S]
//
// OUTDIR gets F folders (nested below a few top folders, and one batch folder
// "<folder>!1" beside its sibling "<folder>" when F is at least 2) holding N
// messages between them. Every message is "NNNNNNNNNN-<name>.eml" (a 10-digit
// id) with a ".meta" file beside it. Sizes spread log-normally around 8 KiB,
// with about one message in a hundred between 100 and 400 KiB carrying a
// base64 attachment. Messages vary in line ends (CRLF or LF), body encoding
// (some 8-bit UTF-8), body lines that begin with "From " or ">From ", and
// headers (Return-Path or not, display names, Date in several zones, some
// without Date but with Received). The same seed gives the same bytes.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A small, fully specified generator (xoshiro256**, seeded through
// splitmix64), so that a seed gives the same export with any standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (auto& word : state_) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t Next() {
    const std::uint64_t result = Rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotl(state_[3], 45);
    return result;
  }

  // A whole number in [0, n).
  std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
  // A whole number in [low, high].
  long Between(long low, long high) {
    return low + static_cast<long>(Below(static_cast<std::uint64_t>(high - low + 1)));
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Unit() < p; }
  double Normal() {
    const double u = 1.0 - Unit();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * 3.14159265358979323846 * Unit());
  }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t state_[4];
};

constexpr const char* kWords[] = {
    "the",     "report",  "meeting", "about",    "project", "please",   "review", "attached",
    "budget",  "and",     "we",      "should",   "discuss", "next",     "week",   "with",
    "team",    "update",  "on",      "schedule", "for",     "release",  "thanks", "regards",
    "quarter", "numbers", "draft",   "final",    "version", "comments", "office", "travel",
    "server",  "backup",  "invoice", "customer", "support", "ticket",   "mail",   "folder",
    "is",      "to",      "a",       "of",       "in",      "it",       "that",   "this"};
constexpr const char* kUtf8Words[] = {"Grüße",  "café",   "naïve", "façade", "Ærø",   "Łódź",
                                      "日本語", "Привет", "über",  "señor",  "crème", "Zürich"};
constexpr const char* kFirstNames[] = {"Anna",  "Bruno", "Chloé", "David", "Eva",   "Farid",
                                       "Greta", "Hiro",  "Ines",  "Jonas", "Karin", "Luis"};
constexpr const char* kLastNames[] = {"Meyer", "Novak",  "Okafor", "Petit", "Quinn", "Rossi",
                                      "Sato",  "Tanaka", "Ulrich", "Varga", "Weber", "Young"};
constexpr const char* kDomains[] = {"example.com", "example.org", "mail.example.net",
                                    "lists.example.edu", "corp.example.co.uk"};
constexpr const char* kTopFolders[] = {"Inbox", "Sent",     "Drafts", "Archive",
                                       "Lists", "Projects", "Junk",   "Trash"};
constexpr const char* kSubFolders[] = {"Clients", "Reports",  "2019",        "2020", "Travel",
                                       "Family",  "Receipts", "Newsletters", "Team", "Old"};
constexpr const char* kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Zone {
  int minutes;       // east of UTC
  const char* text;  // as written in the header
};
constexpr Zone kZones[] = {
    {0, "+0000"},   {0, "GMT"},     {-480, "-0800 (PST)"}, {-300, "-0500"}, {60, "+0100 (CET)"},
    {120, "+0200"}, {330, "+0530"}, {540, "+0900"},        {-180, "-0300"}, {0, "+0000 (UTC)"}};

// The civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long days, long& year, unsigned& month, unsigned& day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// "Thu, 26 Nov 2009 09:43:42 +0100" for a moment given in UTC seconds.
std::string RfcDate(long long utc, const Zone& zone) {
  const long long local = utc + zone.minutes * 60LL;
  const long days = static_cast<long>(local >= 0 ? local / 86400 : (local - 86399) / 86400);
  const long seconds = static_cast<long>(local - days * 86400LL);
  long year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %u %s %ld %02ld:%02ld:%02ld %s",
                kDays[((days % 7) + 7) % 7], day, kMonths[month - 1], year, seconds / 3600,
                seconds / 60 % 60, seconds % 60, zone.text);
  return text;
}

// The pieces joined into one string.
std::string Cat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out += piece;
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 |
                            static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                            static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

struct Person {
  std::string address;
  std::string display;  // the whole From/To value
};

Person MakePerson(Random& random) {
  const std::string first = random.Pick(kFirstNames);
  const std::string last = random.Pick(kLastNames);
  // The address keeps the ASCII letters of the name, in lower case.
  std::string local;
  for (unsigned char c : first + "." + last)
    if (c < 0x80) local += static_cast<char>(std::tolower(c));
  Person person;
  person.address = local + "@" + random.Pick(kDomains);
  switch (random.Below(5)) {
    case 0:
      person.display = person.address;
      break;
    case 1:
      person.display = "<" + person.address + ">";
      break;
    case 2:
      person.display = "\"" + last + ", " + first + "\" <" + person.address + ">";
      break;
    case 3:
      person.display = "=?UTF-8?B?" + Base64(first + " " + last) + "?= <" + person.address + ">";
      break;
    default:
      person.display = first + " " + last + " <" + person.address + ">";
      break;
  }
  return person;
}

class Generator {
 public:
  Generator(fs::path root, long messages, long folders, std::uint64_t seed)
      : root_(std::move(root)), messages_(messages), folderCount_(folders), random_(seed) {}

  void Run() {
    MakeFolders();
    std::vector<double> cumulative;
    double total = 0;
    for (std::size_t i = 0; i < folders_.size(); ++i) {
      total += weights_[i];
      cumulative.push_back(total);
    }
    for (long m = 0; m < messages_; ++m) {
      const double pick = random_.Unit() * total;
      const std::size_t folder = std::min<std::size_t>(
          folders_.size() - 1,
          static_cast<std::size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), pick) -
                                   cumulative.begin()));
      WriteMessage(folders_[folder], 257 + m);
    }
  }

  long bytes() const { return bytes_; }

 private:
  void MakeFolders() {
    const long top = std::min<long>(folderCount_, std::size(kTopFolders));
    const bool batch = folderCount_ >= 2;
    const long plain = batch ? folderCount_ - 1 : folderCount_;
    for (long i = 0; i < std::min(top, plain); ++i) folders_.push_back(kTopFolders[i]);
    std::vector<long> childCount(static_cast<std::size_t>(plain), 0);
    for (long i = static_cast<long>(folders_.size()); i < plain; ++i) {
      // Children go below a random earlier folder, so the tree has depth.
      const std::size_t parent = random_.Below(static_cast<std::uint64_t>(i));
      const long n = childCount[parent]++;
      std::string name = random_.Pick(kSubFolders);
      name += ' ';
      name += std::to_string(n);
      folders_.push_back(folders_[parent] + "/" + name);
    }
    for (std::size_t i = 0; i < folders_.size(); ++i) weights_.push_back(1.0 / (1.0 + i));
    if (batch) {
      // The export's batch folder: the rest of Inbox's messages.
      folders_.push_back(folders_[0] + "!1");
      weights_.push_back(weights_[0]);
    }
    for (const std::string& folder : folders_) fs::create_directories(root_ / folder);
  }

  void AppendLine(std::string& out, std::string_view line) {
    out += line;
    out += eol_;
  }

  // Lines of words up to about 72 columns until out has grown by size bytes.
  void AppendText(std::string& out, std::size_t size, bool utf8) {
    const std::size_t stop = out.size() + size;
    std::string line;
    while (out.size() < stop) {
      line.clear();
      const double kind = random_.Unit();
      if (kind < 0.004)
        line = "From the desk of the editor: ";
      else if (kind < 0.006)
        line = ">From an earlier message, quoted: ";
      else if (kind < 0.007)
        line = ">>From deeper still ";
      while (line.size() < 60 + random_.Below(12)) {
        if (!line.empty() && line.back() != ' ') line += ' ';
        line += utf8 && random_.Chance(0.08) ? random_.Pick(kUtf8Words) : random_.Pick(kWords);
      }
      if (random_.Chance(0.06)) line.clear();  // paragraph breaks
      AppendLine(out, line);
    }
  }

  void WriteMessage(const std::string& folder, long id) {
    eol_ = random_.Chance(0.3) ? "\r\n" : "\n";
    const bool big = random_.Chance(0.01);
    const bool utf8 = random_.Chance(0.25);
    const std::size_t size =
        big ? static_cast<std::size_t>(random_.Between(100 << 10, 400 << 10))
            : static_cast<std::size_t>(
                  std::clamp(8192.0 * std::exp(0.7 * random_.Normal()), 600.0, 96.0 * 1024));

    const Person from = MakePerson(random_);
    const Person to = MakePerson(random_);
    const long long sent = 1072915200LL + static_cast<long long>(random_.Below(630720000ULL));
    const Zone& zone = random_.Pick(kZones);
    const Zone& relayZone = random_.Pick(kZones);
    const std::string host = random_.Pick(kDomains);

    std::string out;
    out.reserve(size + 2048);
    if (random_.Chance(0.85)) AppendLine(out, "Return-Path: <" + from.address + ">");
    const long hops = random_.Between(1, 3);
    for (long hop = hops; hop >= 1; --hop) {
      AppendLine(out, "Received: from relay" + std::to_string(hop) + "." + host + " (relay" +
                          std::to_string(hop) + "." + host + " [192.0.2." + std::to_string(hop) +
                          "])");
      AppendLine(out, "\tby mx." + host + " with ESMTP id " + std::to_string(id * 31 + hop) + ";");
      AppendLine(out, Cat({"\t", RfcDate(sent + hop * 2, relayZone)}));
    }
    AppendLine(out, "From: " + from.display);
    AppendLine(out, "To: " + to.display);
    // One draw per statement: the order in which the operands of + are
    // evaluated is unspecified, and the output must not depend on it.
    std::string subject = random_.Pick(kWords);
    subject += ' ';
    subject += random_.Pick(kWords);
    AppendLine(out, "Subject: " + subject + " #" + std::to_string(id));
    if (random_.Chance(0.9)) AppendLine(out, "Date: " + RfcDate(sent, zone));
    AppendLine(
        out, "Message-ID: <" + std::to_string(id) + "." + std::to_string(sent) + "@" + host + ">");
    AppendLine(out, "MIME-Version: 1.0");

    const std::string charset = utf8 ? "utf-8" : "us-ascii";
    const std::string encoding = utf8 ? "8bit" : "7bit";
    if (!big) {
      AppendLine(out, "Content-Type: text/plain; charset=" + charset);
      AppendLine(out, "Content-Transfer-Encoding: " + encoding);
      AppendLine(out, "");
      AppendText(out, size, utf8);
    } else {
      const std::string boundary = "=-=-boundary-" + std::to_string(id) + "-=-=";
      AppendLine(out, "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"");
      AppendLine(out, "");
      AppendLine(out, "This is a multi-part message in MIME format.");
      AppendLine(out, "--" + boundary);
      AppendLine(out, "Content-Type: text/plain; charset=" + charset);
      AppendLine(out, "Content-Transfer-Encoding: " + encoding);
      AppendLine(out, "");
      AppendText(out, 2048, utf8);
      AppendLine(out, "--" + boundary);
      AppendLine(out, "Content-Type: application/octet-stream; name=\"data-" + std::to_string(id) +
                          ".bin\"");
      AppendLine(out, "Content-Transfer-Encoding: base64");
      AppendLine(
          out, "Content-Disposition: attachment; filename=\"data-" + std::to_string(id) + ".bin\"");
      AppendLine(out, "");
      std::string payload(size * 3 / 4, '\0');
      for (std::size_t i = 0; i < payload.size(); i += 8) {
        const std::uint64_t r = random_.Next();
        for (std::size_t b = 0; b < 8 && i + b < payload.size(); ++b)
          payload[i + b] = static_cast<char>(r >> (8 * b));
      }
      const std::string encoded = Base64(payload);
      for (std::size_t i = 0; i < encoded.size(); i += 76)
        AppendLine(out, std::string_view(encoded).substr(i, 76));
      AppendLine(out, "--" + boundary + "--");
    }

    char name[96];
    std::snprintf(name, sizeof name, "%010ld-%lld.%06ld_2_.eml", id, sent,
                  static_cast<long>(random_.Below(1000000)));
    const fs::path file = root_ / folder / name;
    Write(file, out);
    Write(file.string() + ".meta", "{\"id\": " + std::to_string(id) +
                                       ", \"type\": \"message\", \"Path\": \"/" + folder + "\"}\n");
  }

  void Write(const fs::path& path, std::string_view bytes) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                         &std::fclose);
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fclose(file.release()) != 0)
      throw std::runtime_error("cannot write " + path.string());
    bytes_ += static_cast<long>(bytes.size());
  }

  fs::path root_;
  long messages_;
  long folderCount_;
  Random random_;
  std::vector<std::string> folders_;
  std::vector<double> weights_;
  std::string eol_ = "\n";
  long bytes_ = 0;
};

long Option(int argc, char** argv, const std::string& name, long fallback) {
  for (int i = 2; i + 1 < argc; ++i)
    if (argv[i] == name) return std::stol(argv[i + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: gen_export OUTDIR [--messages N] [--folders F] [--seed S]\n");
    return 2;
  }
  try {
    const fs::path root = argv[1];
    const long messages = Option(argc, argv, "--messages", 20000);
    const long folders = Option(argc, argv, "--folders", 40);
    const long seed = Option(argc, argv, "--seed", 1);
    if (messages < 0 || folders < 1)
      throw std::runtime_error("--messages must be at least 0 and --folders at least 1");
    std::error_code ec;
    if (fs::exists(root, ec) && !fs::is_empty(root, ec))
      throw std::runtime_error(root.string() + " exists and is not empty");

    const auto start = std::chrono::steady_clock::now();
    Generator generator(root, messages, folders, static_cast<std::uint64_t>(seed));
    generator.Run();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("wrote %ld messages (%.1f MiB) in %ld folders below %s in %.2f s\n", messages,
                static_cast<double>(generator.bytes()) / (1 << 20), folders, root.c_str(), seconds);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "gen_export: %s\n", error.what());
    return 1;
  }
}
