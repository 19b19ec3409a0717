// A message is read from disk once and its record is written from pieces of
// that one copy; these tests pin what that sharing must never change.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "convert/mbox_record.h"
#include "convert/message_failure.h"
#include "convert/message_readers.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

TEST(TextFileReader, PrefetchedBytesServeOnlyTheirOwnFileAndOnlyOnce) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "a.eml", "Subject: a\n\nfirst\n");
  test::WriteFile(dir.path() / "b.eml", "Subject: b\n\nsecond\n");
  TextFileReader reader;

  long long modified = 0;
  const std::string* bytes = reader.Prefetch(dir.str() + "a.eml", modified);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(*bytes, "Subject: a\n\nfirst\n");
  EXPECT_GT(modified, 0);
  // Another file's text never comes from a.eml's bytes.
  EXPECT_EQ(reader.ReadTextFile(dir.str() + "b.eml", "us-ascii"), "Subject: b\n\nsecond\n");

  // A handover empties the reader: a later read of the same file sees what
  // the file holds then.
  ASSERT_NE(reader.Prefetch(dir.str() + "a.eml", modified), nullptr);
  EXPECT_EQ(reader.ReadTextFile(dir.str() + "a.eml", "us-ascii"), "Subject: a\n\nfirst\n");
  test::WriteFile(dir.path() / "a.eml", "Subject: a\n\nchanged\n");
  EXPECT_EQ(reader.ReadTextFile(dir.str() + "a.eml", "us-ascii"), "Subject: a\n\nchanged\n");

  // An unreadable file prefetches nothing and fails when its text is asked for.
  EXPECT_EQ(reader.Prefetch(dir.str() + "missing.eml", modified), nullptr);
  EXPECT_THROW(reader.ReadTextFile(dir.str() + "missing.eml", "us-ascii"), MessageFailure);
}

TEST(ReadMessageRecord, AStopDuringTheYieldLeavesNoBytesBehind) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "1.eml", "From: a@b.org\n\nold\n");
  ReaderState state;
  struct Stop {};
  EXPECT_THROW(ReadMessageRecord(dir.str() + "1.eml", state, [] { throw Stop{}; }), Stop);
  // The file changes before it is read again; the old bytes must not return.
  test::WriteFile(dir.path() / "1.eml", "From: a@b.org\n\nnew\n");
  ASSERT_NE(state.textFileReader, nullptr);
  EXPECT_EQ(state.textFileReader->ReadTextFile(dir.str() + "1.eml", "us-ascii"),
            "From: a@b.org\n\nnew\n");
}

TEST(AppendMboxRecord, TextWithMoreQuotedLinesThanOneWriteTakes) {
  // Every quoted line adds pieces to the write; thousands of them must still
  // give the exact quoted text, in one record.
  std::string text = "Subject: many\r\n\r\n";
  std::string quoted = text;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = (i % 3 == 0 ? ">From " : "From ") + std::to_string(i) + "\r\n";
    text += line;
    quoted += ">" + line;
    text += "body\r\n";
    quoted += "body\r\n";
  }
  test::TempDir dir;
  const std::string mbox = dir.str() + "a.mbox";
  AppendMboxRecord(mbox, {"From a@b.org Tue Mar 05 21:30:00 2013", text}, {});
  EXPECT_EQ(test::ReadFile(mbox), "From a@b.org Tue Mar 05 21:30:00 2013\r\n" + quoted + "\r\n");
}

}  // namespace
}  // namespace quillfen
