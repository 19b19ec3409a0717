#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "convert/message_converter.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

// Converts every .eml file below source into destination, as a run does,
// and returns, per mailbox, the source files in the order appended.
std::map<std::string, std::vector<std::filesystem::path>> ConvertTree(
    const std::filesystem::path& source, const std::string& destination) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source))
    if (entry.is_regular_file() && entry.path().extension() == ".eml")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  std::map<std::string, std::vector<std::filesystem::path>> appended;
  ReaderState state;
  DestinationJournal journal(destination, {});
  journal.Begin(false);
  MessageConverter converter(journal, state, {});
  std::int32_t index = 0;
  for (const auto& file : files) {
    std::optional<MessageFile> source;
    const MessageOutcome outcome =
        converter.Convert(index++, file.string(), [&]() -> MessageSource& {
          source.emplace(file.string());
          return *source;
        });
    EXPECT_EQ(outcome.kind, MessageOutcome::Kind::Converted) << outcome.reason;
    appended[outcome.mailbox].push_back(file);
  }
  EXPECT_TRUE(journal.Finish().empty());
  return appended;
}

// Reads every mailbox back with GMime's mbox parser: one record per message,
// and each record's text, unquoted, is its file's bytes.
void ExpectMailboxesHoldTheFiles(
    const std::map<std::string, std::vector<std::filesystem::path>>& appended) {
  for (const auto& [mbox, files] : appended) {
    SCOPED_TRACE(mbox);
    const auto records = test::ReadMbox(mbox);
    ASSERT_EQ(records.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i].string());
      EXPECT_TRUE(records[i].fromLine.starts_with("From "));
      EXPECT_EQ(test::UnquoteMboxrd(records[i].text),
                test::WithoutEnvelopeLine(test::ReadFile(files[i])));
    }
  }
}

TEST(RoundTrip, EveryCorpusMessageComesBackByteForByte) {
  const std::filesystem::path corpus = test::CorpusRoot();
  if (corpus.empty()) GTEST_SKIP() << "the shared test corpus is absent";
  test::TempDir out;
  const auto appended = ConvertTree(corpus, out.str());
  std::size_t messages = 0;
  for (const auto& [mbox, files] : appended) messages += files.size();
  EXPECT_EQ(messages, 381u);

  // The batch folder went into its sibling's mailbox.
  const std::string lkml = out.str() + corpus.string().substr(1) + "/Lists/LKML/LKML.mbox";
  ASSERT_TRUE(appended.count(lkml));
  EXPECT_TRUE(std::any_of(appended.at(lkml).begin(), appended.at(lkml).end(),
                          [](const auto& f) { return f.parent_path().filename() == "LKML!1"; }));
  ExpectMailboxesHoldTheFiles(appended);
}

TEST(RoundTrip, GeneratedTreeComesBackByteForByte) {
  test::TempDir source, out;
  const auto written = test::GenerateMessageTree(source.path(), 120, 9, 7);
  ASSERT_EQ(written.size(), 120u);
  const auto appended = ConvertTree(source.path(), out.str());
  // Nine folders, but the batch folder shares its sibling's mailbox.
  EXPECT_EQ(appended.size(), 8u);
  ExpectMailboxesHoldTheFiles(appended);
}

}  // namespace
}  // namespace quillfen
