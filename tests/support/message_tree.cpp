#include "tests/support/message_tree.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

// This file is also compiled into the benchmarks, so it uses nothing of
// GoogleTest or the other test helpers.

namespace quillfen::test {
namespace {

constexpr std::array<const char*, 8> kFolderNames = {
    "Inbox", "Inbox!1", "Sent", "Drafts", "Lists/Dev", "Lists/Dev/Archive", "Archive/2013", "Junk"};

constexpr std::array<const char*, 16> kWords = {
    "the",     "meeting", "is",   "moved", "to",     "Tuesday", "please", "bring",
    "reports", "and",     "some", "cake",  "thanks", "again",   "for",    "everything"};

std::string FolderName(int index) {
  if (index < static_cast<int>(kFolderNames.size())) return kFolderNames[index];
  return "Folder " + std::to_string(index);
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// An RFC 5322 date with the weekday that belongs to it, so that readers which
// check the weekday accept it.
std::string MailDate(std::mt19937& rng) {
  using namespace std::chrono;
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_days day = sys_days(year{2005} / January / 1) + days(rng() % 7000);
  const year_month_day ymd(day);
  const weekday wd(day);
  const unsigned hour = rng() % 24, minute = rng() % 60, second = rng() % 60;
  const int zoneHours = static_cast<int>(rng() % 25) - 12;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %u %s %d %02u:%02u:%02u %c%02d00", kDays[wd.c_encoding()],
                static_cast<unsigned>(ymd.day()), kMonths[static_cast<unsigned>(ymd.month()) - 1],
                static_cast<int>(ymd.year()), hour, minute, second, zoneHours < 0 ? '-' : '+',
                zoneHours < 0 ? -zoneHours : zoneHours);
  return text;
}

std::string MessageText(int number, std::mt19937& rng, const MessageTreeSizes& sizes) {
  const std::string eol = rng() % 3 == 0 ? "\r\n" : "\n";
  const unsigned charsetKind = rng() % 3;  // 0 none, 1 utf-8, 2 iso-8859-1
  const std::string user = "user" + std::to_string(rng() % 50);

  std::string text;
  auto line = [&](std::string_view content) {
    text.append(content);
    text.append(eol);
  };
  if (rng() % 2 == 0) line("Return-Path: <" + user + "@example.org>");
  line("Received: from mx.example.org by mail.example.com; " + MailDate(rng));
  line("From: \"User " + user.substr(4) + "\" <" + user + "@example.org>");
  line("To: ann@example.com");
  line("Subject: Message " + std::to_string(number));
  if (rng() % 5 != 0) line("Date: " + MailDate(rng));
  line("Message-ID: <" + std::to_string(number) + "." + std::to_string(rng()) + "@example.org>");
  line("MIME-Version: 1.0");
  if (charsetKind == 1) line("Content-Type: text/plain; charset=utf-8");
  if (charsetKind == 2) line("Content-Type: text/plain; charset=\"iso-8859-1\"");
  if (charsetKind != 0) line("Content-Transfer-Encoding: 8bit");
  line("");

  const std::size_t span =
      sizes.maxBodyBytes > sizes.minBodyBytes ? sizes.maxBodyBytes - sizes.minBodyBytes : 0;
  const std::size_t bodyBytes = sizes.minBodyBytes + (span ? rng() % (span + 1) : 0);
  const std::size_t bodyStart = text.size();
  while (text.size() - bodyStart < bodyBytes) {
    const unsigned kind = rng() % 16;
    if (kind == 0) {
      line("From the desk of " + user + ":");
    } else if (kind == 1) {
      line(">From an earlier message, quoted");
    } else if (kind == 2 && charsetKind == 1) {
      line(
          "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
          "e \xE2\x82\xAC 5");
    } else if (kind == 2 && charsetKind == 2) {
      line(
          "Caf\xE9 cr\xE8me br\xFBl\xE9"
          "e \xA3 5");
    } else {
      std::string words;
      const unsigned count = 4 + rng() % 10;
      for (unsigned i = 0; i < count; ++i) {
        if (i) words += ' ';
        words += kWords[rng() % kWords.size()];
      }
      line(words);
    }
  }
  // Some messages end without a line end.
  if (rng() % 10 == 0) text.resize(text.size() - eol.size());
  return text;
}

}  // namespace

std::vector<std::filesystem::path> GenerateMessageTree(const std::filesystem::path& root,
                                                       int messageCount, int folderCount,
                                                       std::uint32_t seed,
                                                       const MessageTreeSizes& sizes) {
  if (folderCount < 1) folderCount = 1;
  std::mt19937 rng(seed);
  std::filesystem::create_directories(root);
  for (int f = 0; f < folderCount; ++f) std::filesystem::create_directories(root / FolderName(f));
  WriteBytes(root / "notes.txt", "Not a message.\n");

  std::vector<std::filesystem::path> written;
  written.reserve(messageCount > 0 ? messageCount : 0);
  for (int number = 1; number <= messageCount; ++number) {
    char name[64];
    std::snprintf(name, sizeof name, "%010d-message-%d.eml", number, number);
    const std::filesystem::path file = root / FolderName((number - 1) % folderCount) / name;
    WriteBytes(file, MessageText(number, rng, sizes));
    WriteBytes(file.string() + ".meta",
               "{\"id\":" + std::to_string(number) + ",\"flags\":\"\",\"tags\":\"\"}\n");
    written.push_back(file);
  }
  return written;
}

}  // namespace quillfen::test
