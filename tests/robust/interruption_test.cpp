// A run stopped or killed at an arbitrary moment must leave every mailbox
// ending at a record boundary, each record a whole source message, and a run
// into the same destination afterwards must add exactly what is missing.

#include <gtest/gtest.h>
#include <csignal>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/robust/robust_support.h"
#include "tests/support/cli_process.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

std::uintmax_t TotalMailboxBytes(const fs::path& destination) {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (const fs::path& mailbox : FindMailboxes(destination)) total += fs::file_size(mailbox, ec);
  return total;
}

// Ends a run of quillfen-cli over source with signal once the mailboxes
// hold sizeTrigger bytes (at least one: the run is under way, its signal
// handling in place) and delay has passed after that. Returns the wait
// status, and in out what the run wrote on its standard output.
[[maybe_unused]] int InterruptRun(const fs::path& source, const fs::path& destination, int signal,
                                  std::uintmax_t sizeTrigger, std::chrono::milliseconds delay,
                                  std::string* out = nullptr) {
  CliProcess cli({source.string(), destination.string()});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!cli.Ended() &&
         TotalMailboxBytes(destination) < std::max<std::uintmax_t>(sizeTrigger, 1) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  std::this_thread::sleep_for(delay);
  cli.Signal(signal);
  const int status = cli.Wait();
  if (out != nullptr) *out = cli.out();
  return status;
}

class Interruption : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    source_ = new TempDir;
    // Bodies of up to 30 KB, so that most records span several pages.
    GenerateMessageTree(source_->path(), 3000, 8, 17, MessageTreeSizes{2000, 30000});
  }
  static void TearDownTestSuite() {
    delete source_;
    source_ = nullptr;
  }
  // The messages of the queue.
  std::int32_t MessageCount() const {
    return static_cast<std::int32_t>(
        std::count_if(queue_.begin(), queue_.end(),
                      [](const std::string& name) { return name.ends_with(".eml"); }));
  }
  void SetUp() override {
    queue_ = WalkQueue(source_->path());
    rng_.seed(seed_);
  }

  // A moment: as soon as the first mailbox appears, once the mailboxes reach
  // a random size, or a random delay after the first mailbox appears.
  std::pair<std::uintmax_t, std::chrono::milliseconds> Moment(int round) {
    if (round % 3 == 0) return {1, std::chrono::milliseconds(0)};
    if (round % 3 == 1) return {64 * 1024 + rng_() % (8 << 20), std::chrono::milliseconds(0)};
    return {0, std::chrono::milliseconds(5 + rng_() % 400)};
  }
  std::string Trace(int round, std::pair<std::uintmax_t, std::chrono::milliseconds> moment) {
    return "round " + std::to_string(round) + " of seed " + std::to_string(seed_) + ": size " +
           std::to_string(moment.first) + ", delay " + std::to_string(moment.second.count()) +
           " ms";
  }

  static TempDir* source_;
  std::vector<std::string> queue_;
  const unsigned seed_ = std::random_device{}();
  std::mt19937 rng_;
};

TempDir* Interruption::source_ = nullptr;

// The records of every mailbox below destination.
[[maybe_unused]] std::size_t RecordsBelow(const fs::path& destination) {
  std::size_t records = 0;
  for (const fs::path& mailbox : FindMailboxes(destination)) {
    std::vector<SplitRecord> split;
    std::string reason;
    if (SplitMbox(ReadFile(mailbox), split, reason)) records += split.size();
  }
  return records;
}

#ifndef _WIN32
// Ctrl-C, SIGTERM and a hang-up stop the run between two records: every
// mailbox holds whole messages only, the status says it was stopped, and
// the summary counts the records written of the whole queue.
TEST_F(Interruption, StopSignalsEndTheRunBetweenRecords) {
  const auto before = SnapshotTree(source_->path());
  const std::string messages = std::to_string(MessageCount());
  int stoppedMidRun = 0;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int round = 0; round < 3; ++round) {
    TempDir destination;
    const auto moment = Moment(round);
    SCOPED_TRACE(Trace(round, moment));
    std::string out;
    const int status = InterruptRun(source_->path(), destination.path(), signals[round],
                                    moment.first, moment.second, &out);
    ASSERT_NE(ExitStatus(status), -1) << DescribeStatus(status);
    EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    EXPECT_EQ(CheckMailboxes(destination.path(), queue_, nullptr, RunEnd::Stopped),
              std::vector<std::string>{});
    if (WEXITSTATUS(status) != 130) continue;
    ++stoppedMidRun;
    EXPECT_NE(out.find("Messages converted: " + std::to_string(RecordsBelow(destination.path())) +
                       " of " + messages + "\n"),
              std::string::npos)
        << out;
  }
  EXPECT_GT(stoppedMidRun, 0) << "every run ended before it could be stopped";
  EXPECT_EQ(SnapshotTree(source_->path()), before);
}
#endif

// A kill may end a run right after any change it makes below the
// destination, a write in the middle of a record among them. The kill is
// planted at a chosen change (the run kills itself there), so that every
// round tests what it names. Running again into the same destination adds
// what is missing: every mailbox then holds each message exactly once, byte
// for byte, in order.
TEST_F(Interruption, KillThenRunAgainGivesEveryMessageExactlyOnce) {
  const std::string messages = std::to_string(MessageCount());
  const std::string killing = "tests/quillfen_killed_at_change";
  long changes = 0;
  {
    TempDir whole;
    CliProcess run({source_->path().string(), whole.str(), "0"}, std::nullopt, std::nullopt,
                   killing);
    ASSERT_EQ(ExitStatus(run.Wait()), 0) << run.err();
    changes = std::stol(run.out());
  }
  ASSERT_GT(changes, 8);
  for (int round = 0; round < 4; ++round) {
    TempDir destination;
    const long at = 1 + static_cast<long>(rng_() % static_cast<unsigned long>(changes));
    SCOPED_TRACE("round " + std::to_string(round) + " of seed " + std::to_string(seed_) +
                 ": killed after change " + std::to_string(at) + " of " + std::to_string(changes));
    const auto killAt = [&](long change) {
      CliProcess killed({source_->path().string(), destination.str(), std::to_string(change)},
                        std::nullopt, std::nullopt, killing);
      return killed.Wait();
    };
    const int status = killAt(at);
    ASSERT_TRUE(WasKilled(status)) << DescribeStatus(status);
    // A second kill, of the run that adds the rest, before it too is run
    // again; that run may also end before it makes as many changes.
    if (round == 3) (void)killAt(1 + at / 2);
    CliProcess again({source_->path().string(), destination.str()});
    EXPECT_EQ(ExitStatus(again.Wait()), 0) << again.err();
    const std::string out = again.out();
    EXPECT_TRUE(out.find("Messages converted: " + messages + " of " + messages + "\n") !=
                    std::string::npos ||
                out.find(" already holds all " + messages + " messages of ") != std::string::npos)
        << out;
    EXPECT_EQ(CheckMailboxes(destination.path(), queue_, nullptr, RunEnd::Finished),
              std::vector<std::string>{});
  }
}

// A finished conversion is not repeated; a second run into the same
// destination is refused while the first is writing.
TEST_F(Interruption, RepeatsAndSecondRunsNeverDoubleMail) {
  TempDir destination;
  const std::string dest = destination.path().string();
  const std::string source = source_->path().string();
  {
    CliProcess first({source, dest});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!first.Ended() && TotalMailboxBytes(destination.path()) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    CliProcess second({source, dest});
    const int secondStatus = second.Wait();
    if (!first.Ended()) {
      EXPECT_EQ(ExitStatus(secondStatus), 2);
      EXPECT_EQ(second.err(), "quillfen-cli: another conversion is writing into " + dest + "\n");
    }
    EXPECT_EQ(ExitStatus(first.Wait()), 0) << first.err();
  }
  const std::uintmax_t once = TotalMailboxBytes(destination.path());

  CliProcess repeat({source, dest});
  EXPECT_EQ(ExitStatus(repeat.Wait()), 0);
  EXPECT_EQ(repeat.out(), dest + " already holds all " + std::to_string(MessageCount()) +
                              " messages of " + source +
                              "; nothing to do (use --again to add a second copy).\n");
  EXPECT_EQ(TotalMailboxBytes(destination.path()), once);
  EXPECT_EQ(CheckMailboxes(destination.path(), queue_, nullptr), std::vector<std::string>{});
}

}  // namespace
}  // namespace quillfen::test
