// An export laid out the way the mail server's exporter writes it, converted
// by quillfen-cli once as the extracted folder and once as the .tgz itself:
// every message (and only messages) lands once in its folder's mailbox, and
// both ways give the same mailboxes.

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/platform.h"
#include "tests/robust/robust_support.h"
#include "tests/source/archive_test_support.h"
#include "tests/support/cli_process.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

struct ExportEntry {
  std::string name;
  std::string data;
  long long mtime;
};

// What the export holds, in archive order, and which mailbox (relative to
// the export's mirror folder) each message must end up in.
struct ExportLayout {
  std::vector<ExportEntry> entries;
  std::map<std::string, std::vector<std::string>> expected;  // mailbox -> texts
  int messages = 0;
};

std::string Message(int id, bool dated, bool crlf) {
  const std::string end = crlf ? "\r\n" : "\n";
  std::string text = "Return-Path: <sender" + std::to_string(id % 7) + "@example.org>" + end;
  if (dated) text += "Date: Tue, 5 Mar 2013 14:07:" + std::to_string(10 + id % 50) + " +0100" + end;
  text += "Subject: item " + std::to_string(id) + end + end;
  text += "Body of " + std::to_string(id) + end + "From the body" + end + ">From quoted" + end;
  return text;
}

std::string ItemId(int id) {
  std::string digits = std::to_string(id);
  return std::string(10 - digits.size(), '0') + digits;
}

// An item and its .meta companion, which the exporter writes right before it.
struct Item {
  std::string name;
  std::string data;
  std::string mailbox;  // empty when the item is no message
};

ExportLayout MakeLayout() {
  ExportLayout layout;
  // Folders and tags first, sorted by path, as .meta entries only.
  for (const char* meta :
       {"0000000002-Inbox.meta", "0000000005-Sent.meta", "0000000007-Contacts.meta",
        "0000000010-Calendar.meta", "0000000015-Tasks.meta", "0000000016-Briefcase.meta",
        "0000000017-Chats.meta", "Inbox/0000000300-Projects _ Plans.meta",
        "Tags/0000000064-Important.meta"})
    layout.entries.push_back({meta, "{\"id\":1,\"type\":\"folder\"}\n", 1300000000});

  std::vector<Item> items;
  int id = 1000;
  auto message = [&](const std::string& folder, const std::string& subject,
                     const std::string& mailbox) {
    ++id;
    // "<ten-digit id>-<subject>.eml"; a message without a subject is
    // "message-<id>.eml".
    const std::string name =
        subject.empty() ? "message-" + std::to_string(id) : ItemId(id) + "-" + subject;
    items.push_back({folder + "/" + name + ".eml", Message(id, id % 3 != 0, id % 2 == 0), mailbox});
  };
  // The Inbox holds 502 messages: the exporter puts the 500th on into
  // "Inbox!1", which still belongs to the Inbox's mailbox.
  for (int i = 1; i <= 502; ++i)
    message(i < 500 ? "Inbox" : "Inbox!1", "Re_ note " + std::to_string(i), "Inbox/Inbox.mbox");
  message("Sent", "Hello", "Sent/Sent.mbox");
  // Subjects cut at 120 characters make names of more than 100 bytes,
  // stored as GNU long-name entries; one holds two-byte characters.
  message("Sent", std::string(120, 'L'), "Sent/Sent.mbox");
  message("Sent",
          "Gr\xC3\xBC\xC3\x9F"
          "e " +
              std::string(114, 'u'),
          "Sent/Sent.mbox");
  // A line feed in a subject is kept in the name (where a file name may hold
  // one: not on Windows).
  if (!os::kWindows) message("Sent", "two\nlines", "Sent/Sent.mbox");
  message("Inbox/Projects _ Plans", "Plan", "Inbox/Projects _ Plans/Projects _ Plans.mbox");
  message("Inbox/Projects _ Plans", "", "Inbox/Projects _ Plans/Projects _ Plans.mbox");
  // A stored message whose size disagreed: padded with spaces, then an
  // empty .err entry follows it.
  ++id;
  const std::string padded = "Inbox/" + ItemId(id) + "-Padded.eml";
  items.push_back({padded, Message(id, true, false) + std::string(40, ' '), "Inbox/Inbox.mbox"});
  // Items that are no messages: contacts without extension, appointments,
  // tasks, chats, notes, and briefcase documents under their own names.
  items.push_back({"Contacts/Ann Example", "BEGIN:VCARD\nFN:Ann\nEND:VCARD\n", ""});
  items.push_back({"Contacts/Bob", "", ""});
  items.push_back({"Calendar/0000002001-Meeting.appt", "Subject: meeting\n\nx\n", ""});
  items.push_back({"Tasks/0000002002-Todo.task", "Subject: task\n\nx\n", ""});
  items.push_back({"Chats/0000002003-Chat.chat", "Subject: chat\n\nx\n", ""});
  items.push_back({"Inbox/0000002004-Note.note", "Subject: note\n\nx\n", ""});
  items.push_back({"Briefcase/report.pdf", "%PDF-1.4\n", ""});
  // A document named like a message is a message, and converts.
  items.push_back({"Briefcase/notes.eml", "Subject: saved notes\n\nFrom my notes\n",
                   "Briefcase/Briefcase.mbox"});

  // Items follow in no particular order; each keeps its .meta before it.
  std::mt19937 rng(4711);
  std::shuffle(items.begin(), items.end(), rng);
  long long mtime = 1340000000;
  for (const Item& item : items) {
    mtime += 3607;
    layout.entries.push_back({item.name + ".meta", "{\"id\":2,\"type\":\"message\"}\n", mtime});
    layout.entries.push_back({item.name, item.data, mtime});
    if (item.name == padded) layout.entries.push_back({padded + ".err", "", mtime});
    if (item.mailbox.empty()) continue;
    layout.expected[item.mailbox].push_back(WithoutEnvelopeLine(item.data));
    ++layout.messages;
  }
  for (auto& [mailbox, texts] : layout.expected) std::sort(texts.begin(), texts.end());
  return layout;
}

void WriteFolder(const fs::path& root, const ExportLayout& layout) {
  for (const ExportEntry& entry : layout.entries) {
    const fs::path path = root / PathOf(entry.name);
    fs::create_directories(path.parent_path());
    WriteFile(path, entry.data);
    // An extracting tool puts the entry's time on the file.
    fs::last_write_time(
        path, std::chrono::file_clock::from_sys(
                  std::chrono::system_clock::from_time_t(static_cast<std::time_t>(entry.mtime))));
  }
}

// A gzip-compressed GNU tar, as the exporter writes it: names over 100 bytes
// become long-name entries, and there are no folder entries.
void WriteGnuTar(const fs::path& archivePath, const ExportLayout& layout) {
  const std::unique_ptr<archive, int (*)(archive*)> writer(archive_write_new(), archive_write_free);
  if (archive_write_add_filter_gzip(writer.get()) != ARCHIVE_OK ||
      archive_write_set_format_gnutar(writer.get()) != ARCHIVE_OK ||
#ifdef _WIN32
      archive_write_open_filename_w(writer.get(), archivePath.c_str()) != ARCHIVE_OK)
#else
      archive_write_open_filename(writer.get(), archivePath.c_str()) != ARCHIVE_OK)
#endif
    throw std::runtime_error("cannot start " + archivePath.string());
  for (const ExportEntry& wanted : layout.entries) {
    const std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(),
                                                                         archive_entry_free);
    SetEntryName(entry.get(), wanted.name);
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(wanted.data.size()));
    archive_entry_set_mtime(entry.get(), static_cast<time_t>(wanted.mtime), 0);
    if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK ||
        (!wanted.data.empty() &&
         archive_write_data(writer.get(), wanted.data.data(), wanted.data.size()) !=
             static_cast<la_ssize_t>(wanted.data.size())))
      throw std::runtime_error(std::string("cannot write ") + wanted.name + ": " +
                               archive_error_string(writer.get()));
  }
  if (archive_write_close(writer.get()) != ARCHIVE_OK)
    throw std::runtime_error("cannot finish " + archivePath.string());
}

// Every mailbox below mirror, read with GMime's mbox parser: its records'
// From lines and unquoted texts.
struct Mailboxes {
  std::map<std::string, std::vector<std::string>> texts;    // sorted
  std::map<std::string, std::vector<std::string>> records;  // From line + text, sorted
};

Mailboxes ReadMailboxes(const fs::path& mirror) {
  Mailboxes found;
  for (const fs::path& mailbox : FindMailboxes(mirror)) {
    const std::string relative = mailbox.lexically_relative(mirror).generic_string();
    std::vector<std::string>& texts = found.texts[relative];
    std::vector<std::string>& records = found.records[relative];
    for (const StoredRecord& record : ReadMbox(mailbox)) {
      texts.push_back(UnquoteMboxrd(record.text));
      records.push_back(record.fromLine + "\n" + record.text);
    }
    std::sort(texts.begin(), texts.end());
    std::sort(records.begin(), records.end());
  }
  return found;
}

TEST(RealLayout, FolderAndArchiveGiveEveryMessageOnceInItsMailbox) {
  const ExportLayout layout = MakeLayout();
  TempDir work;
  const fs::path folder = work.path() / "Export";
  const fs::path tgz = work.path() / "Export.tgz";
  WriteFolder(folder, layout);
  WriteGnuTar(tgz, layout);

  Mailboxes converted[2];
  const fs::path sources[2] = {folder, tgz};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(sources[i]);
    const fs::path destination = work.path() / ("out" + std::to_string(i));
    CliProcess cli({sources[i].string(), destination.string()});
    EXPECT_EQ(ExitStatus(cli.Wait()), 0) << cli.out() << cli.err();
    const std::string total = std::to_string(layout.messages);
    EXPECT_NE(cli.out().find("Messages converted: " + total + " of " + total + "\n"),
              std::string::npos)
        << cli.out();
    // The archive converts as if extracted beside itself, into the folder's
    // mirror path.
    converted[i] = ReadMailboxes(destination / folder.relative_path());
    EXPECT_EQ(FindMailboxes(destination).size(), layout.expected.size());
    for (const auto& [mailbox, texts] : layout.expected) {
      const std::vector<std::string>& found = converted[i].texts[mailbox];
      EXPECT_EQ(found.size(), texts.size()) << mailbox;
      EXPECT_TRUE(found == texts) << mailbox << " does not hold exactly its messages";
    }
  }
  EXPECT_TRUE(converted[0].records == converted[1].records)
      << "the folder and the archive gave different mailboxes";
}

}  // namespace
}  // namespace quillfen::test
