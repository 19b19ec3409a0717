#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>
#include <string>

#include "convert/mbox_record.h"
#include "convert/message_failure.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

// The bytes AppendMboxRecord writes for one record into a fresh file.
std::string RecordBytes(const std::string& fromLine, const std::string& text) {
  test::TempDir dir;
  const std::string mbox = dir.str() + "a.mbox";
  AppendMboxRecord(mbox, {fromLine, text}, {});
  return test::ReadFile(mbox);
}

TEST(FromLine, EnglishNamesZeroPaddedFieldsWhateverTheLocale) {
  // The names must not follow the user's locale; try a few that may exist.
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) std::setlocale(LC_ALL, name);
  EXPECT_EQ(FormatFromLine("a@b.org", {2013, 7, 1, 0, 5, 9}),
            "From a@b.org Mon Jul 01 00:05:09 2013");
  EXPECT_EQ(FormatFromLine("a@b.org", {2013, 3, 5, 21, 30, 0}),
            "From a@b.org Tue Mar 05 21:30:00 2013");
  EXPECT_EQ(FormatFromLine("x", {2000, 2, 29, 23, 59, 59}), "From x Tue Feb 29 23:59:59 2000");
  EXPECT_EQ(FormatFromLine("x", {1999, 12, 26, 12, 0, 0}), "From x Sun Dec 26 12:00:00 1999");
  EXPECT_EQ(FormatFromLine("", {2013, 7, 1, 0, 5, 9}), "From  Mon Jul 01 00:05:09 2013");
  std::setlocale(LC_ALL, "C");
}

TEST(RecordBytes, FromLineCrLfTextCrLf) {
  const std::string from = "From a@b Mon Jul 01 00:05:09 2013";
  EXPECT_EQ(RecordBytes(from, "Subject: x\n\nbody"), from + "\r\nSubject: x\n\nbody\r\n");
  EXPECT_EQ(RecordBytes(from, "Subject: x\r\n\r\nbody\r\n"),
            from + "\r\nSubject: x\r\n\r\nbody\r\n\r\n");
  EXPECT_EQ(RecordBytes(from, ""), from + "\r\n\r\n");
  // A From line that would split the record is refused before anything is written.
  test::TempDir dir;
  EXPECT_THROW(AppendMboxRecord(dir.str() + "a.mbox", {"From a\r\nFrom b", "x"}, {}),
               MessageFailure);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.mbox"));
}

TEST(RecordBytes, QuotesFromLinesAndDropsAnEnvelopeLine) {
  const std::string from = "From a@b Mon Jul 01 00:05:09 2013";
  struct Case {
    const char* text;
    const char* written;
  };
  const Case cases[] = {
      {"From: Ann <a@b>\n\nFrom here on\n>From there\n>>From x\nFrom\nFromage\n",
       "From: Ann <a@b>\n\n>From here on\n>>From there\n>>>From x\nFrom\nFromage\n"},
      {"S: x\r\n\r\nFrom a\r\n> From b\r\nnot From c\r\n>From ",
       "S: x\r\n\r\n>From a\r\n> From b\r\nnot From c\r\n>>From "},
      // The first line is an old envelope line: left out, not quoted.
      {"From someone Sat Jan  1 00:00:00 2000\nS: x\n\nFrom body\n", "S: x\n\n>From body\n"},
      {"From someone Sat Jan  1 00:00:00 2000\r\nS: x\r\n\r\n", "S: x\r\n\r\n"},
      // A first line that begins with "From " but is no envelope line is
      // part of the message, even as its only line.
      {"From only an envelope line", ">From only an envelope line"},
      // A quoted first line is a body line like any other.
      {">From x\n", ">>From x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(RecordBytes(from, c.text), from + "\r\n" + c.written + "\r\n");
  }
}

TEST(AppendMboxRecord, AppendsAfterExistingContentAndYieldsOnce) {
  test::TempDir dir;
  const std::string mbox = dir.str() + "a.mbox";
  const std::string existing = "From x Mon Jul 01 00:05:09 2013\r\nold\r\n\x01\xFF";
  test::WriteFile(mbox, existing);
  int yields = 0;
  AppendMboxRecord(mbox, {"From y Tue Jul 02 00:05:09 2013", "new"}, [&] { ++yields; });
  EXPECT_EQ(yields, 1);
  EXPECT_EQ(test::ReadFile(mbox), existing + "From y Tue Jul 02 00:05:09 2013\r\nnew\r\n");

  try {
    AppendMboxRecord(dir.str() + "missing/a.mbox", {"From y", "x"}, [&] { ++yields; });
    ADD_FAILURE() << "appended into a missing folder";
  } catch (const MessageFailure& failure) {
    EXPECT_STREQ(failure.what(), "cannot open: No such file or directory");
  }
  EXPECT_EQ(yields, 1);
}

// Lowers the largest file size this process may write, so that writes fail
// with EFBIG instead of killing the process with SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = SIG_DFL;
};

TEST(AppendMboxRecord, FailedWriteCutsTheMailboxBackAndLaterAppendsWork) {
  test::TempDir dir;
  const std::string mbox = dir.str() + "Inbox.mbox";
  const std::string first = "From a Mon Jul 01 00:05:09 2013\r\nSubject: 1\r\n\r\nfirst\r\n";
  test::WriteFile(mbox, first);
  const MboxRecord big{"From b Mon Jul 01 00:05:09 2013",
                       "Subject: 2\r\n\r\n" + std::string(100000, 'b')};
  {
    // Part of the record fits below the limit, so the file really grows
    // before the write fails.
    FileSizeLimit limit(first.size() + 5000);
    try {
      AppendMboxRecord(mbox, big, {});
      ADD_FAILURE() << "the write did not fail";
    } catch (const MessageFailure& failure) {
      EXPECT_STREQ(failure.what(), "cannot write: File too large");
    }
  }
  EXPECT_EQ(test::ReadFile(mbox), first);

  AppendMboxRecord(mbox, big, {});
  const auto records = test::ReadMbox(mbox);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].text, big.text);
}

TEST(ReadMessageRecord, ReaderLifetimesAndExactBytes) {
  test::TempDir dir;
  // 8-bit text in two charsets and a body line that needs quoting later.
  const std::string latin1 =
      "Return-Path: <ann@a.org>\nDate: Mon, 1 Jul 2013 00:05:09 +0200\n"
      "Content-Type: text/plain; charset=iso-8859-1\n\nCaf\xE9 cr\xE8me\nFrom me\n";
  const std::string utf8 =
      "From: B\xC3\xB6rje <b@b.org>\r\nDate: Tue, 5 Mar 2013 21:30:00 -0800\r\n"
      "Content-Type: text/plain; charset=UTF-8\r\n\r\n\xE2\x82\xAC 5\r\n";
  test::WriteFile(dir.path() / "1.eml", latin1);
  test::WriteFile(dir.path() / "2.eml", utf8);

  ReaderState state;
  int yields = 0;
  const YieldFunction yield = [&] {
    ++yields;
    // While the run yields, the message reader is gone and the charset is kept.
    EXPECT_EQ(state.messageReader, nullptr);
    EXPECT_FALSE(state.charsetName.empty());
  };
  const MboxRecord first = ReadMessageRecord(dir.str() + "1.eml", state, yield);
  EXPECT_EQ(first.fromLine, "From ann@a.org Mon Jul 01 00:05:09 2013");
  EXPECT_EQ(first.text, latin1);
  EXPECT_EQ(state.charsetName, "iso-8859-1");
  EXPECT_EQ(state.messageReader, nullptr);
  ASSERT_NE(state.textFileReader, nullptr);
  const TextFileReader* kept = state.textFileReader.get();

  const MboxRecord second = ReadMessageRecord(dir.str() + "2.eml", state, yield);
  EXPECT_EQ(second.fromLine, "From b@b.org Tue Mar 05 21:30:00 2013");
  EXPECT_EQ(second.text, utf8);
  EXPECT_EQ(state.charsetName, "UTF-8");
  EXPECT_EQ(state.textFileReader.get(), kept);
  EXPECT_EQ(yields, 2);

  // A file that cannot be read fails after the yield, with the reason.
  try {
    ReadMessageRecord(dir.str() + "3.eml", state, yield);
    ADD_FAILURE() << "a missing file gave a record";
  } catch (const MessageFailure& failure) {
    EXPECT_STREQ(failure.what(), "cannot open: No such file or directory");
  }
  EXPECT_EQ(yields, 3);
  EXPECT_EQ(state.charsetName, "us-ascii");
}

}  // namespace
}  // namespace quillfen
