// A conversion cut off at any point, by a kill or a power cut, is mended by
// the next one: every change the first run made below the destination is
// recorded, the states a crash after each of them could leave are built
// (writes not yet flushed kept, lost, cut short or zeroed), and converting
// the same source again into each must end with every message exactly once,
// byte for byte, and nothing else in the mailboxes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "conversion/conversion.h"
#include "destination/destination.h"
#include "os/fault_injection.h"
#include "tests/source/archive_test_support.h"
#include "tests/support/convert_bytes.h"
#include "tests/support/crash_states.h"
#include "tests/support/holdings.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

// How many states each source explores: CRASH_STATES in the environment
// divided among the sources, else enough for a thousand each.
std::size_t StatesPerSource() {
  if (const char* wanted = std::getenv("CRASH_STATES"))
    return std::max<std::size_t>(1, std::strtoul(wanted, nullptr, 10) / 2);
  return 1100;
}

// What got holds that want does not, and the other way round, in short:
// the holdings' full texts are too long to print.
std::string Difference(const Holdings& got, const Holdings& want) {
  std::string out;
  const auto describe = [&out](const std::string& what, const std::string& mailbox,
                               const std::string& text) {
    out += what + " in " + mailbox + ": " + std::to_string(text.size()) +
           " bytes: " + text.substr(0, 80) + "\n";
  };
  for (const auto& [mailbox, texts] : got)
    for (const std::string& text : texts) {
      const auto wanted = want.find(mailbox);
      if (wanted == want.end() || texts.count(text) > wanted->second.count(text))
        describe("extra", mailbox, text);
    }
  for (const auto& [mailbox, texts] : want)
    for (const std::string& text : texts) {
      const auto held = got.find(mailbox);
      if (held == got.end() || texts.count(text) > held->second.count(text))
        describe("missing", mailbox, text);
    }
  return out;
}

class CrashStates : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    work_ = new TempDir;
    GenerateMessageTree(work_->path() / "export", 120, 3, 20261215);
    // One message larger than the pieces records are written in.
    std::string large = "From: big@example.org\r\nSubject: large\r\n\r\n";
    while (large.size() < (std::size_t{3} << 19)) large += "a line of the large message\r\n";
    WriteFile(work_->path() / "export" / "Inbox" / "0000009999-large.eml", large);
    PackFolder(work_->path() / "export", work_->path() / "export.tgz");
  }
  static void TearDownTestSuite() {
    delete work_;
    work_ = nullptr;
  }
  void SetUp() override { Destination::SetMessagesPerMarkForTests(8); }
  // The states are simulated: the disk need not be waited for.
  os::ScopedFaults fastFlushes_{{.pathPart = "", .skipFlushes = true}};
  void TearDown() override { Destination::SetMessagesPerMarkForTests(0); }

  static TempDir* work_;
};

TempDir* CrashStates::work_ = nullptr;

TEST_P(CrashStates, EveryStateACrashLeavesIsMended) {
  const fs::path source = work_->path() / GetParam();
  const fs::path destination = work_->path() / (std::string("out-") + GetParam());
  fs::create_directories(destination);
  const FolderState before = ReadFolderState(destination);
  std::vector<RecordedChange> changes;
  {
    ChangeRecorder recorder(destination);
    const ConversionReport report = ConvertInProcess(source, destination);
    ASSERT_EQ(report.ending, Ending::Finished);
    ASSERT_TRUE(report.failures.empty());
    changes = recorder.changes();
  }
  const fs::path state = work_->path() / "state";
  const Holdings expectedThere = ExpectedHoldings(work_->path() / "export", state);
  const std::size_t states = StatesPerSource();
  std::mt19937 rng(20261216);
  std::size_t explored = 0;
  for (std::size_t round = 0; explored < states; ++round) {
    for (std::size_t cut = 0; cut <= changes.size() && explored < states; ++cut, ++explored) {
      // Each round goes through every cut point once; the first keeps every
      // write (a kill), the others choose what a power cut left.
      const std::uint32_t seed = rng();
      std::mt19937 choices(seed);
      BuildCrashState(before, changes, cut, state, choices, round == 0);
      const ConversionReport again = ConvertInProcess(source, state);
      const std::string where = "after change " + std::to_string(cut) + " of " +
                                std::to_string(changes.size()) + ", round " +
                                std::to_string(round) + ", seed " + std::to_string(seed);
      ASSERT_TRUE(again.ending == Ending::Finished || again.ending == Ending::NothingToDo)
          << where << ": " << again.reason;
      ASSERT_TRUE(again.failures.empty())
          << where << ": " << again.failures[0].file << ": " << again.failures[0].reason;
      const Holdings stored = StoredHoldings(state);
      ASSERT_TRUE(stored == expectedThere) << where << "\n" << Difference(stored, expectedThere);
    }
  }
  RecordProperty("states", static_cast<int>(explored));
}

INSTANTIATE_TEST_SUITE_P(Sources, CrashStates, ::testing::Values("export", "export.tgz"),
                         [](const auto& info) {
                           return std::string(info.param) == "export" ? "Folder" : "Archive";
                         });

}  // namespace
}  // namespace quillfen::test
