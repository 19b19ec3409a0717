// The destination as the user takes it to a Mac: nothing below it is
// reached through a link, no two names fold together there, every name is
// UTF-8, and a low limit on open files costs no message.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "os/platform.h"
#include "tests/source/archive_test_support.h"
#include "tests/support/cli_process.h"
#include "tests/support/holdings.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

Outcome Convert(const fs::path& source, const fs::path& destination,
                std::optional<std::size_t> openFiles = std::nullopt) {
  CliProcess process({Utf8(source), Utf8(destination)}, std::nullopt, openFiles);
  Outcome run;
  run.status = ExitStatus(process.Wait());
  run.out = process.out();
  run.err = process.err();
  return run;
}

std::string Message(const std::string& subject) {
  return "From: ann@example.org\r\nSubject: " + subject + "\r\n\r\nAbout " + subject + "\r\n";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The mailbox a folder below source goes to, as written below destination.
fs::path MailboxOf(const fs::path& destination, const fs::path& folder) {
  return destination / folder.relative_path() / (folder.filename().string() + ".mbox");
}

std::vector<std::string> TextsOf(const fs::path& mailbox) {
  std::vector<std::string> texts;
  for (const StoredRecord& record : ReadMbox(mailbox)) texts.push_back(UnquoteMboxrd(record.text));
  return texts;
}

bool ValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80         ? 1
                               : (c >> 5) == 6  ? 2
                               : (c >> 4) == 14 ? 3
                               : (c >> 3) == 30 ? 4
                                                : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += length;
  }
  return true;
}

// Three kinds of link planted below the destination: a mailbox that is a
// symbolic link to a file elsewhere, a mailbox with a second name
// elsewhere, and a mirror folder that leads elsewhere. None of them is
// written through; their messages fail with the reason, the others arrive
// once. The hidden folder as a link refuses the whole conversion.
TEST(DestinationSafety, LinksBelowTheDestinationAreNeverFollowed) {
  TempDir work;
  const fs::path source = work.path() / "export";
  for (const char* folder : {"Linked", "Twice", "Elsewhere", "Plain"})
    WriteFile(source / folder / "1.eml", Message(folder));
  const fs::path outside = work.path() / "outside";
  WriteFile(outside / "victim.mbox", "the user's own file\n");
  WriteFile(outside / "second-name.mbox", "another file of the user\n");
  fs::create_directories(outside / "folder");
  const fs::path out = work.path() / "out";
  fs::create_directories(MailboxOf(out, source / "Linked").parent_path());
  fs::create_symlink(outside / "victim.mbox", MailboxOf(out, source / "Linked"));
  fs::create_directories(MailboxOf(out, source / "Twice").parent_path());
  fs::create_hard_link(outside / "second-name.mbox", MailboxOf(out, source / "Twice"));
  fs::create_directory_symlink(outside / "folder", out / (source / "Elsewhere").relative_path());

  const Outcome run = Convert(source, out);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Contains(run.out, "Messages converted: 1 of 4")) << run.out;
  EXPECT_TRUE(Contains(run.out, MailboxOf(out, source / "Linked").string() +
                                    " is a link to elsewhere; it was left alone"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "a file with another name elsewhere")) << run.out;
  EXPECT_TRUE(Contains(run.out, "is reached through a link to elsewhere; it was left alone"))
      << run.out;
  EXPECT_EQ(ReadFile(outside / "victim.mbox"), "the user's own file\n");
  EXPECT_EQ(ReadFile(outside / "second-name.mbox"), "another file of the user\n");
  EXPECT_TRUE(fs::is_empty(outside / "folder"));
  EXPECT_EQ(TextsOf(MailboxOf(out, source / "Plain")), std::vector<std::string>{Message("Plain")});

  // The destination itself may be a link: the user chose it.
  fs::create_directory_symlink(out, work.path() / "chosen");
  const Outcome chosen = Convert(source, work.path() / "chosen");
  EXPECT_TRUE(Contains(chosen.out, "already holds 1 of these 4 messages")) << chosen.out;

  const fs::path hidden = work.path() / "hidden";
  fs::create_directories(hidden);
  fs::create_directory_symlink(outside / "folder", hidden / ".quillfen");
  const Outcome refused = Convert(source, hidden);
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(Contains(refused.err, "is a link to elsewhere; it was left alone")) << refused.err;
  EXPECT_TRUE(fs::is_empty(outside / "folder"));
}

// Names that a Mac folds together (case, composed and decomposed accents),
// a subfolder named like its folder's mailbox, and a name that is not
// UTF-8 (from an archive): every mailbox gets a name of its own, valid
// UTF-8, the same on the next run, with each message once.
TEST(DestinationSafety, NamesStayApartOnAMac) {
  TempDir work;
  const fs::path source = work.path() / "export";
  std::map<std::string, std::string> folders = {
      {"Work", "Work"},
      {"work", "work (2)"},
      {"Inbox", "Inbox"},
      {"Inbox/Inbox.mbox", "Inbox/Inbox.mbox (2)"},
  };
  if (os::kWindows) {
    // The archive library gives every name composed there, where the two
    // spellings of "Café" below are one name.
    folders.emplace("Caf\xC3\xA9", "Caf\xC3\xA9");
  } else {
    folders.emplace("Caf\xC3\xA9", "Caf\xC3\xA9 (2)");
    folders.emplace("Cafe\xCC\x81", "Cafe\xCC\x81");
    // A name that is not UTF-8 (which a Windows name, UTF-16, cannot be).
    folders.emplace("bad\xFF", "bad\xEF\xBF\xBD");
  }
  // The archive holds the folders as they are; a folder tree can only where
  // the file system tells "Work" from "work" (not on Windows).
  std::vector<TarEntry> entries;
  for (const auto& [folder, written] : folders)
    entries.push_back(TarEntry::File(folder + "/1.eml", Message(folder)));
  WriteTar(work.path() / "export.tar", entries, false);
  std::vector<fs::path> sources = {work.path() / "export.tar"};
  if (!os::kWindows) {
    for (const auto& [folder, written] : folders)
      WriteFile(source / PathOf(folder) / "1.eml", Message(folder));
    sources.push_back(source);
  }
  for (const fs::path& from : sources) {
    SCOPED_TRACE(Utf8(from));
    const fs::path out = work.path() / ("out-" + from.filename().string());
    const Outcome run = Convert(from, out);
    EXPECT_EQ(run.status, 0) << run.err;
    // On Windows the reason adds that the name is allowed there.
    EXPECT_TRUE(Contains(run.out, "Mailbox renamed to stay apart on a Mac")) << run.out;
    std::set<fs::path> mailboxes;
    for (const auto& [folder, written] : folders) {
      const fs::path mailbox = (out / source.relative_path() / PathOf(written) /
                                PathOf(Utf8(PathOf(written).filename()) + ".mbox"))
                                   .make_preferred();
      EXPECT_EQ(TextsOf(mailbox), std::vector<std::string>{Message(folder)}) << written;
      mailboxes.insert(mailbox);
    }
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      EXPECT_TRUE(ValidUtf8(Utf8(entry.path()))) << Utf8(entry.path());
      if (entry.path().extension() == ".mbox") {
        EXPECT_EQ(mailboxes.count(entry.path()), 1u) << Utf8(entry.path());
      }
    }
    EXPECT_TRUE(Contains(Convert(from, out).out, "nothing to do"));
  }
}

// A long name kept apart takes its number within the 255 bytes a name may
// have: it is cut first, at the start of a character, so that its folder
// can be created and its messages converted.
TEST(DestinationSafety, ALongNameKeptApartStillFits) {
  TempDir work;
  const fs::path source = work.path() / "export";
  std::string upper, lower;  // 127 times "Ü" and "ü": 254 bytes, one name on a Mac
  for (int i = 0; i < 127; ++i) {
    upper += "\xC3\x9C";
    lower += "\xC3\xBC";
  }
  // In an archive, since a Windows folder cannot hold both names.
  WriteTar(work.path() / "export.tgz", {TarEntry::File(upper + "/1.eml", Message("upper")),
                                        TarEntry::File(lower + "/1.eml", Message("lower"))});
  const fs::path out = work.path() / "out";
  const Outcome run = Convert(work.path() / "export.tgz", out);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // Each mailbox's own name is cut to 250 bytes before ".mbox" as well.
  const fs::path mirror = out / source.relative_path();
  EXPECT_EQ(TextsOf(mirror / PathOf(upper) / PathOf(upper.substr(0, 250) + ".mbox")),
            std::vector<std::string>{Message("upper")});
  EXPECT_EQ(TextsOf(mirror / PathOf(lower.substr(0, 250) + " (2)") /
                    PathOf(lower.substr(0, 250) + ".mbox")),
            std::vector<std::string>{Message("lower")});
}

// With 16 files open at most, 200 folders still convert whole.
TEST(DestinationSafety, ALowOpenFilesLimitCostsNoMessage) {
  TempDir work;
  GenerateMessageTree(work.path() / "export", 1000, 200, 20141207);
  const Outcome run = Convert(work.path() / "export", work.path() / "out", 16);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ExpectEveryMessageOnce(work.path() / "export", work.path() / "out");
}

}  // namespace
}  // namespace quillfen::test
