#include "destination/destination.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mbox/content_hash.h"
#include "mbox/envelope_line.h"
#include "mbox/mailbox_records.h"
#include "mbox/mbox_quoting.h"
#include "os/paths.h"
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

// The index is a cache: a killed writer's unmarked tail is cut back, a
// mailbox the index disagrees with is read back and never cut, and a lost
// index is rebuilt from the mailboxes.
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
  {
    // Killed after writing past the index's last mark: the mailbox ends in
    // records that no index knows of, the last one torn.
    Destination destination(root);
    destination.Begin();
    Write(destination, mailbox, kTexts[2]);
    destination.Mailbox(mailbox).Flush();
    os::File file;
    ASSERT_TRUE(file.OpenForAppending(mailbox).ok());
    ASSERT_TRUE(file.Append("From torn Tue Mar  4 09:05:01 2014\r\nSubj").ok());
  }
  {
    Destination destination(root);
    EXPECT_FALSE(destination.NeedsReadingBack(mailbox));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(kTexts[1]))));
    EXPECT_FALSE(destination.Take(mailbox, HashOfText(TextOf(kTexts[2]))));
    EXPECT_EQ(test::ReadFile(mailbox), finished);
    destination.SaveLearned();
  }
  // The user's own record after ours: read back, kept.
  const std::string own = "From me Sat Jan  1 00:00:00 2000\nSubject: mine\n\nhello\n";
  test::WriteFile(mailbox, finished + own);
  {
    Destination destination(root);
    EXPECT_TRUE(destination.NeedsReadingBack(mailbox));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText("Subject: mine\n\nhello\n")));
    EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(kTexts[0]))));
    EXPECT_FALSE(destination.Take(mailbox, HashOfText(TextOf(kTexts[0]))));
    destination.SaveLearned();
  }
  EXPECT_EQ(test::ReadFile(mailbox), finished + own);
  // Without its index, the destination reads its mailboxes back.
  test::WriteFile(dir.path() / "out" / ".quillfen" / "index", "damaged\n");
  {
    Destination destination(root);
    EXPECT_TRUE(destination.NeedsReadingBack(mailbox));
    for (const std::string& message : {kTexts[0], kTexts[1]})
      EXPECT_TRUE(destination.Take(mailbox, HashOfText(TextOf(message)))) << message;
    // A mailbox this conversion creates, killed before any mark knew of it.
    destination.Begin();
    Write(destination, fresh, kTexts[3]);
    destination.Mailbox(fresh).Flush();
  }
  Destination destination(root);
  EXPECT_FALSE(destination.HoldsAny(fresh));
  EXPECT_EQ(test::ReadFile(fresh), "");
}

}  // namespace
}  // namespace quillfen
