#include "destination/destination.h"
#include "destination/index_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mbox/content_hash.h"
#include "mbox/envelope_line.h"
#include "mbox/mailbox_records.h"
#include "mbox/mbox_quoting.h"
#include "os/fault_injection.h"
#include "os/file.h"
#include "os/paths.h"
#include "os/platform.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

// Texts whose records are framed in every awkward way: no final line end,
// empty lines at the end, lines that get quoted, LF and CR LF, an old
// envelope line, a first line that merely begins with "From ".
const std::vector<std::string> kTexts = {
    "Subject: a\r\n\r\nno final line end",
    "Subject: b\n\nempty lines after\n\n\n",
    "Subject: c\r\n\r\nFrom here\r\n>From there\r\n>>From far\r\nFrom",
    "From ann@example.org Tue Mar  4 09:05:01 2014\r\nSubject: d\r\n\r\nenvelope\r\n",
    "From the desk of Ann\nSubject: e\n\nbody\n",
    "",
};

std::string TextOf(const std::string& message) {
  return message.substr(EnvelopeLineLength(message));
}

// A record as the converter writes it: From line, quoted text, CR LF.
std::string Record(const std::string& message) {
  std::string out = "From ann@example.org Tue Mar  4 09:05:01 2014\r\n";
  MboxQuoter quoter;
  quoter.Feed(TextOf(message), out);
  quoter.Finish(out);
  return out + "\r\n";
}

void Write(Destination& destination, const std::string& mailbox, const std::string& message) {
  MailboxFile& file = destination.Mailbox(mailbox);
  file.OpenRecord(message.size() + 64) += Record(message);
  file.CloseRecord(0, "m.eml", HashOfText(TextOf(message)));
}

// Reading a mailbox back gives the hashes its writer gave, whoever framed
// it: ours with CR LF, or another program's with LF and a blank line.
TEST(Destination, ReadingBackGivesTheWritersHashes) {
  test::TempDir dir;
  std::string ours, theirs;
  std::vector<ContentHash> hashes;
  for (const std::string& message : kTexts) {
    ours += Record(message);
    std::string quoted;
    MboxQuoter quoter;
    quoter.Feed(TextOf(message), quoted);
    quoter.Finish(quoted);
    theirs += "From someone Sat Jan  1 00:00:00 2000\n" + quoted + "\n\n";
    hashes.push_back(HashOfText(TextOf(message)));
    // In pieces of one byte, the streaming hash is the same.
    ContentHasher hasher;
    for (const char c : TextOf(message)) hasher.Feed(std::string_view(&c, 1));
    EXPECT_EQ(hasher.Finish(), hashes.back()) << message;
  }
  for (const std::string& bytes : {ours, theirs}) {
    test::WriteFile(dir.path() / "m.mbox", "preamble that is no record\n" + bytes);
    std::vector<HeldRecord> records;
    ASSERT_TRUE(ReadMailboxRecords(dir.str(), "m.mbox", 1 << 20, records).ok());
    ASSERT_EQ(records.size(), hashes.size());
    for (std::size_t i = 0; i < hashes.size(); ++i) EXPECT_EQ(records[i].hash, hashes[i]) << i;
  }
}

// The header fields in which mail programs keep their state in an mbox
// file, with their folded lines, do not count in a text's hash, whole or in
// pieces; fields that merely look like them, and the body, do.
TEST(Destination, StateFieldsDoNotCountInTheHash) {
  const std::string plain = "Subject: a\r\nStatuses: kept\r\n\r\nStatus: in the body\r\n";
  const std::string marked =
      "Status: RO\r\nSubject: a\r\nX-Mozilla-Status: 0001\r\n  folded\r\nx-keywords: $a\r\n"
      "Statuses: kept\r\nlines: 3\r\n\r\nStatus: in the body\r\n";
  EXPECT_EQ(HashOfText(marked), HashOfText(plain));
  for (const std::string& text : {plain, marked}) {
    ContentHasher hasher;
    for (const char c : text) hasher.Feed(std::string_view(&c, 1));
    EXPECT_EQ(hasher.Finish(), HashOfText(plain));
  }
  EXPECT_NE(HashOfText("Subject: a\r\n\r\nStatus: in the body\r\n"), HashOfText(plain));
}

// The destination folder itself is locked: deleting the hidden folder
// during a conversion does not let a second one in.
TEST(Destination, TheLockOutlivesTheHiddenFolder) {
  if (os::kWindows) GTEST_SKIP() << "an open file keeps its folder from being deleted there";
  test::TempDir dir;
  const std::string root = dir.str() + "out";
  Destination first(root);
  std::filesystem::remove_all(std::filesystem::path(root) / ".quillfen");
  EXPECT_THROW((Destination{root}), DestinationBusy);
}

// Writes into the index what the destination learned, as a conversion
// that wrote nothing does.
void Save(Destination& destination) {
  destination.Begin();
  EXPECT_TRUE(destination.Finish().empty());
}

// The index is a cache: a killed writer's torn last record is set aside
// once writing begins, never before, and its whole records are kept; a
// mailbox the index disagrees with is read back and never cut.
TEST(Destination, KnowsWhatItHoldsWhateverHappenedToItsIndex) {
  test::TempDir dir;
  const std::string root = dir.str() + "out";
  const char separator = PathStyle::Native().separator;
  const std::string mailbox = root + separator + "Inbox.mbox";
  const std::string fresh = root + separator + "Sent.mbox";
  {
    Destination destination(root);
    EXPECT_THROW((Destination{root}), DestinationBusy);
    destination.Begin();
    Write(destination, mailbox, kTexts[0]);
    Write(destination, mailbox, kTexts[1]);
    EXPECT_TRUE(destination.Finish().empty());
    EXPECT_EQ(destination.RecordsAdded(), 2);
  }
  const std::string finished = test::ReadFile(mailbox);
  const std::string torn = "From torn Tue Mar  4 09:05:01 2014\r\nSubj";
  {
    // Killed after writing past the index's last mark: the mailbox ends in
    // records that no index knows of, the last one torn.
    Destination destination(root);
    destination.Begin();
    Write(destination, mailbox, kTexts[2]);
    destination.Mailbox(mailbox).Flush();
    os::File file;
    ASSERT_TRUE(file.OpenForAppending(mailbox).ok());
    ASSERT_TRUE(file.Append(torn).ok());
  }
  const std::string whole = finished + Record(kTexts[2]);
  {
    Destination destination(root);
    EXPECT_TRUE(destination.NeedsReadingBack(mailbox));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(kTexts[1]))));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(kTexts[2]))));
    // Nothing is cut before writing begins.
    EXPECT_EQ(test::ReadFile(mailbox), whole + torn);
    Save(destination);
    EXPECT_EQ(test::ReadFile(mailbox), whole);
    ASSERT_EQ(destination.SetAside().size(), 1u);
    EXPECT_EQ(destination.SetAside()[0].mailbox, mailbox);
    EXPECT_EQ(test::ReadFile(destination.SetAside()[0].keptAs), torn);
  }
  // The user's own record after ours: read back, kept.
  const std::string own = "From me Sat Jan  1 00:00:00 2000\nSubject: mine\n\nhello\n";
  test::WriteFile(mailbox, whole + own);
  {
    Destination destination(root);
    EXPECT_TRUE(destination.NeedsReadingBack(mailbox));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText("Subject: mine\n\nhello\n")));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(kTexts[0]))));
    EXPECT_FALSE(destination.Take(mailbox, HashOfText(TextOf(kTexts[0]))));
    Save(destination);
  }
  EXPECT_EQ(test::ReadFile(mailbox), whole + own);
  {
    // A mailbox this conversion creates, killed before the index listed its
    // record: nothing tells that record from one cut short at a line end.
    // Compared with a source, it is set aside (and its message converted
    // again); otherwise it stays.
    Destination destination(root);
    destination.Begin();
    Write(destination, fresh, kTexts[3]);
    destination.Mailbox(fresh).Flush();
  }
  const std::string index = test::ReadFile(std::filesystem::path(root) / ".quillfen" / "index");
  {
    Destination destination(root);
    Save(destination);
    EXPECT_EQ(test::ReadFile(fresh), Record(kTexts[3]));
  }
  test::WriteFile(std::filesystem::path(root) / ".quillfen" / "index", index);
  Destination destination(root);
  EXPECT_FALSE(destination.Take(fresh, HashOfText(TextOf(kTexts[3]))));
  Save(destination);
  EXPECT_EQ(test::ReadFile(fresh), "");
  ASSERT_EQ(destination.SetAside().size(), 1u);
  EXPECT_EQ(test::ReadFile(destination.SetAside()[0].keptAs), Record(kTexts[3]));
}

// The faults of the index. Every case ends by opening the destination and
// asking for every record: each one in a mailbox is found once, and none
// that is not there.

// Distinct texts whose records never hold one another.
std::string Text(int n) {
  return "Subject: " + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n";
}
constexpr int kTextCount = 5;

int RecordsInFile(const std::string& path, const std::string& text) {
  const std::string bytes = test::ReadFile(path);
  const std::string record = Record(text);
  int count = 0;
  for (std::size_t at = bytes.find(record); at != std::string::npos;
       at = bytes.find(record, at + 1))
    ++count;
  return count;
}

void ExpectFindsWhatIsInTheFiles(Destination& destination,
                                 const std::vector<std::string>& mailboxes) {
  for (const std::string& mailbox : mailboxes) {
    destination.Learn(mailbox);
    for (int n = 0; n < kTextCount; ++n) {
      int taken = 0;
      while (taken < 3 && destination.Take(mailbox, HashOfText(Text(n)))) ++taken;
      EXPECT_EQ(taken, RecordsInFile(mailbox, Text(n))) << mailbox << ", text " << n;
    }
  }
}

// What the destination then learns is written whole: the index is trusted
// again, after whatever damage it had.
void ExpectTheIndexRepaired(const std::string& root, const std::vector<std::string>& mailboxes) {
  {
    // Compared with a source, as a conversion does: a last record of an
    // interrupted run that the index does not list is set aside.
    Destination destination(root);
    for (const std::string& mailbox : mailboxes) destination.Learn(mailbox);
    Save(destination);
  }
  Destination destination(root);
  for (const std::string& mailbox : mailboxes)
    EXPECT_FALSE(destination.NeedsReadingBack(mailbox)) << mailbox;
  ExpectFindsWhatIsInTheFiles(destination, mailboxes);
}

struct TwoMailboxes {
  test::TempDir dir;
  std::string root = dir.str() + "out";
  std::string inbox = root + PathStyle::Native().separator + "Inbox.mbox";
  std::string sent = root + PathStyle::Native().separator + "Sent.mbox";

  // A conversion that writes Text(first) to Inbox and Text(first + 1) to
  // Sent, and finishes.
  void Convert(int first) {
    Destination destination(root);
    destination.Begin();
    Write(destination, inbox, Text(first));
    Write(destination, sent, Text(first + 1));
    ASSERT_TRUE(destination.Finish().empty());
  }
};

// A mailbox deleted while the conversion writes it (its folder removed, say)
// is reported, and the records written once that is noticed, when the next
// batch goes out, go into a new file by its name instead of being lost with
// the deleted one.
TEST(Destination, AMailboxDeletedDuringTheRunIsReportedAndMadeAgain) {
  test::TempDir dir;
  const std::string root = dir.str() + "out";
  const std::string mailbox = root + PathStyle::Native().separator + "Inbox.mbox";
  {
    Destination destination(root);
    destination.Begin();
    Write(destination, mailbox, kTexts[0]);
    {
      os::File probe;
      ASSERT_TRUE(probe.OpenForAppending(mailbox).ok());
      ASSERT_TRUE(std::filesystem::remove(mailbox));
      if (!probe.Deleted())
        GTEST_SKIP() << "this system does not tell that an open file was deleted";
    }
    // A mark writes the batch.
    for (int i = 0; i < Destination::kMessagesPerMark; ++i) destination.Settled();
    Write(destination, mailbox, kTexts[1]);
    const std::vector<std::pair<std::string, std::string>> failures = destination.Finish();
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures[0].first, mailbox);
    EXPECT_EQ(failures[0].second, "the mailbox was deleted during the conversion");
    EXPECT_EQ(test::ReadFile(mailbox), Record(kTexts[1]));
    // The record that went with the deleted file is not counted, and the
    // next run does not believe it held.
    EXPECT_EQ(destination.RecordsAdded(), 1);
  }
  Destination destination(root);
  EXPECT_FALSE(destination.NeedsReadingBack(mailbox));
  EXPECT_FALSE(destination.Take(mailbox, HashOfText(TextOf(kTexts[0]))));
  EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(kTexts[1]))));
}

// The index cannot be written (the disk is full) at each step that writes
// it. The step fails with the reason, and the index still tells only the
// truth: what it says is on the disk. A mailbox's first line failing fails
// that message only, and the lines of the other mailboxes go out with the
// next write.
TEST(Destination, AnIndexThatCannotBeWrittenTellsOnlyTheTruth) {
  enum class Step { Begin, FirstLine, Mark, Finish };
  for (const Step failing : {Step::Begin, Step::FirstLine, Step::Mark, Step::Finish}) {
    SCOPED_TRACE(static_cast<int>(failing));
    TwoMailboxes out;
    out.Convert(0);
    const std::string reason =
        "cannot write the index in " + out.root + PathStyle::Native().separator + ".quillfen: ";
    // Runs a step; the failing one with room for a few bytes of the index,
    // so that a torn line is left unless it is cut back.
    const auto step = [&](Step now, const std::function<void()>& run) {
      if (now != failing) {
        run();
        return true;
      }
      const os::ScopedFaults full({.pathPart = "index", .bytesBeforeFullDisk = 2});
      try {
        run();
        ADD_FAILURE() << "the index was written";
      } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind(reason, 0), 0u) << error.what();
      }
      return false;
    };
    [&] {
      Destination destination(out.root);
      if (!step(Step::Begin, [&] { destination.Begin(); })) return;
      Write(destination, out.inbox, Text(2));
      if (!step(Step::FirstLine, [&] { (void)destination.Mailbox(out.sent); }))
        (void)destination.Mailbox(out.sent);
      Write(destination, out.sent, Text(3));
      for (int i = 1; i < Destination::kMessagesPerMark; ++i) destination.Settled();
      if (!step(Step::Mark, [&] { destination.Settled(); })) return;
      Write(destination, out.inbox, Text(4));
      (void)step(Step::Finish, [&] { (void)destination.Finish(); });
    }();
    ExpectTheIndexRepaired(out.root, {out.inbox, out.sent});
  }
}

// The mailbox of a run that did not end is shorter than its last mark
// says (not what a crash leaves, but the user may cut it): what was there
// before the run is read back as it is, the run's whole records are kept,
// and only a torn one of the run is set aside.
TEST(Destination, AMailboxCutShortLosesOnlyTheRunsTornRecord) {
  const std::int64_t before = static_cast<std::int64_t>(Record(Text(0)).size());
  const std::int64_t one = before + static_cast<std::int64_t>(Record(Text(1)).size());
  const std::int64_t marked = one + static_cast<std::int64_t>(Record(Text(2)).size());
  const std::vector<std::pair<std::int64_t, std::int64_t>> cases = {
      {marked - 10, one}, {before + 3, before}, {before, before}, {before - 5, before - 5}, {0, 0}};
  for (const auto& [length, kept] : cases) {
    SCOPED_TRACE(length);
    TwoMailboxes out;
    {
      Destination destination(out.root);
      destination.Begin();
      Write(destination, out.inbox, Text(0));
      ASSERT_TRUE(destination.Finish().empty());
    }
    {
      Destination destination(out.root);
      destination.Begin();
      Write(destination, out.inbox, Text(1));
      Write(destination, out.inbox, Text(2));
      for (int i = 0; i < Destination::kMessagesPerMark; ++i) destination.Settled();
      Write(destination, out.inbox, Text(3));
      destination.Mailbox(out.inbox).Flush();
    }
    const std::string written = test::ReadFile(out.inbox);
    ASSERT_GT(static_cast<std::int64_t>(written.size()), marked);
    {
      os::File file;
      ASSERT_TRUE(file.OpenForAppending(out.inbox).ok());
      ASSERT_TRUE(file.CutBack(length).ok());
    }
    {
      Destination destination(out.root);
      EXPECT_EQ(destination.NeedsReadingBack(out.inbox), length > 0);
    }
    ExpectTheIndexRepaired(out.root, {out.inbox});
    EXPECT_EQ(test::ReadFile(out.inbox), written.substr(0, static_cast<std::size_t>(kept)));
  }
}

// A damaged index is noticed: every mailbox is then read back, and nothing
// is cut, whatever the damage hides.
TEST(Destination, ADamagedIndexIsNoticedAndNothingIsCut) {
  const auto lineStart = [](const std::string& index, std::string_view word, int which) {
    std::size_t at = 0;
    for (int i = 0; i < which; ++i) at = index.find("\n" + std::string(word) + " ", at + 1);
    return at + 1;
  };
  const std::vector<std::pair<const char*, std::function<std::string(const std::string&)>>>
      damages = {
          {"a first line of another version",
           [](const std::string& index) { return "quillfen-index 9" + index.substr(16); }},
          {"garbage between two runs",
           [&](const std::string& index) {
             const std::size_t at = lineStart(index, "begin", 2);
             return index.substr(0, at) + "\x01garbage\n" + index.substr(at);
           }},
          {"a line lost",
           [&](const std::string& index) {
             const std::size_t at = lineStart(index, "held", 3);
             return index.substr(0, at) + index.substr(index.find('\n', at) + 1);
           }},
          {"a hash changed",
           [&](const std::string& index) {
             std::string changed = index;
             char& digit = changed[lineStart(index, "held", 1) + 12];
             digit = digit == '0' ? '1' : '0';
             return changed;
           }},
          {"zeros in the middle",
           [](const std::string& index) {
             std::string changed = index;
             std::fill_n(changed.begin() + static_cast<std::ptrdiff_t>(index.size() / 2), 40, '\0');
             return changed;
           }},
          {"a last line cut short",
           [](const std::string& index) { return index.substr(0, index.rfind("held") + 20); }},
      };
  for (const auto& [what, apply] : damages) {
    SCOPED_TRACE(what);
    TwoMailboxes out;
    out.Convert(0);
    out.Convert(2);
    const std::string index = out.root + PathStyle::Native().separator + ".quillfen" +
                              PathStyle::Native().separator + "index";
    test::WriteFile(index, apply(test::ReadFile(index)));
    const std::string inbox = test::ReadFile(out.inbox), sent = test::ReadFile(out.sent);
    ExpectTheIndexRepaired(out.root, {out.inbox, out.sent});
    // Every byte is kept: in its mailbox, or, for a last record that the
    // damage left unlisted, set aside.
    std::size_t setAside = 0;
    const auto cut = std::filesystem::path(out.root) / ".quillfen" / "cut";
    if (std::filesystem::exists(cut))
      for (const auto& file : std::filesystem::directory_iterator(cut))
        setAside += test::ReadFile(file.path()).size();
    const std::string nowInbox = test::ReadFile(out.inbox), nowSent = test::ReadFile(out.sent);
    EXPECT_EQ(inbox.substr(0, nowInbox.size()), nowInbox);
    EXPECT_EQ(sent.substr(0, nowSent.size()), nowSent);
    EXPECT_EQ(nowInbox.size() + nowSent.size() + setAside, inbox.size() + sent.size());
  }
}

// What the index says does not depend on the pieces it is read in.
TEST(Destination, TheIndexReadsTheSameInPiecesOfAnySize) {
  TwoMailboxes out;
  for (int run = 0; run < 3; ++run) {
    Destination destination(out.root);
    destination.Begin();
    for (int i = 0; i < 300; ++i) Write(destination, i % 2 ? out.inbox : out.sent, Text(i));
    destination.RememberName("a/", "a (2)/");
    for (int i = 0; i < Destination::kMessagesPerMark; ++i) destination.Settled();
    Write(destination, out.inbox, Text(1000 + run));
    destination.Mailbox(out.inbox).Flush();
    if (run < 2) {
      ASSERT_TRUE(destination.Finish().empty());
    }
  }
  const std::string index = test::ReadFile(out.root + PathStyle::Native().separator + ".quillfen" +
                                           PathStyle::Native().separator + "index");
  const auto describe = [](IndexReader& reader) {
    const IndexContents contents = reader.Finish();
    std::string text = std::to_string(contents.trusted) + std::to_string(reader.wholeLength()) +
                       "/" + std::to_string(reader.lines());
    for (const IndexedMailbox& mailbox : contents.mailboxes) {
      text += " " + mailbox.relative + std::to_string(mailbox.held.size()) + "," +
              std::to_string(mailbox.length) + "," + std::to_string(mailbox.openLength) + "," +
              std::to_string(mailbox.durableCount) + "," + std::to_string(mailbox.durableLength);
      for (const ContentHash& hash : mailbox.held) text += std::to_string(hash.low % 1000);
    }
    for (const auto& [wanted, chosen] : contents.names) text += " " + wanted + chosen;
    return text;
  };
  IndexReader whole;
  whole.Feed(index);
  const std::string once = describe(whole);
  EXPECT_NE(once.find("1" + std::to_string(index.size()) + "/"), std::string::npos) << once;
  for (std::size_t piece = 1; piece <= 700; ++piece) {
    IndexReader reader;
    for (std::size_t at = 0; at < index.size(); at += piece)
      reader.Feed(std::string_view(index).substr(at, piece));
    ASSERT_EQ(describe(reader), once) << "pieces of " << piece;
  }
}

}  // namespace
}  // namespace quillfen
