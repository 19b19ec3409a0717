// A run killed at an arbitrary moment must leave every mailbox ending at a
// record boundary, each record a whole source message.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cli_process.h"
#include "tests/robust/robust_support.h"
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
// status.
int InterruptRun(const fs::path& source, const fs::path& destination, int signal,
                 std::uintmax_t sizeTrigger, std::chrono::milliseconds delay) {
  CliProcess cli({source.string(), destination.string()});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!cli.Ended() &&
         TotalMailboxBytes(destination) < std::max<std::uintmax_t>(sizeTrigger, 1) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  std::this_thread::sleep_for(delay);
  cli.Signal(signal);
  return cli.Wait();
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

// Ctrl-C, SIGTERM and a hang-up stop the run between two records: every
// mailbox holds whole messages only, and the status says it was stopped.
TEST_F(Interruption, StopSignalsEndTheRunBetweenRecords) {
  const auto before = SnapshotTree(source_->path());
  int stoppedMidRun = 0;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int round = 0; round < 3; ++round) {
    TempDir destination;
    const auto moment = Moment(round);
    SCOPED_TRACE(Trace(round, moment));
    const int status = InterruptRun(source_->path(), destination.path(), signals[round],
                                    moment.first, moment.second);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    if (WEXITSTATUS(status) == 130) ++stoppedMidRun;
    EXPECT_EQ(CheckMailboxes(destination.path(), queue_, nullptr, RunEnd::Stopped),
              std::vector<std::string>{});
  }
  EXPECT_GT(stoppedMidRun, 0) << "every run ended before it could be stopped";
  EXPECT_EQ(SnapshotTree(source_->path()), before);
}

// SIGKILL cannot be caught, and may end a write in the middle of a record.
// Running again into the same destination resumes the conversion: every
// mailbox then holds each message exactly once, byte for byte, in order.
TEST_F(Interruption, KillThenRunAgainGivesEveryMessageExactlyOnce) {
  int killedMidRun = 0;
  for (int round = 0; round < 4; ++round) {
    TempDir destination;
    const auto moment = Moment(round);
    SCOPED_TRACE(Trace(round, moment));
    const int status =
        InterruptRun(source_->path(), destination.path(), SIGKILL, moment.first, moment.second);
    if (!WIFSIGNALED(status)) continue;
    ++killedMidRun;
    // A second kill, of the resuming run, before it too is resumed; the
    // resuming run may also finish first, and the next run then has
    // nothing to do.
    bool resumedRunFinished = false;
    if (round == 3)
      resumedRunFinished = !WIFSIGNALED(InterruptRun(source_->path(), destination.path(), SIGKILL,
                                                     0, std::chrono::milliseconds(50)));
    CliProcess again({source_->path().string(), destination.str()});
    EXPECT_EQ(ExitStatus(again.Wait()), 0) << again.err();
    EXPECT_NE(again.out().find(resumedRunFinished ? " was already converted into "
                                                  : "Resuming an interrupted conversion: "),
              std::string::npos)
        << again.out();
    EXPECT_EQ(CheckMailboxes(destination.path(), queue_, nullptr, RunEnd::Finished),
              std::vector<std::string>{});
  }
  EXPECT_GT(killedMidRun, 0) << "every run ended before it could be killed";
}

// A finished conversion is not repeated unless asked for; a second run into
// the same destination is refused while the first is writing.
TEST_F(Interruption, RepeatsAndSecondRunsNeverDoubleMail) {
  TempDir destination;
  const std::string dest = destination.path().string();
  {
    CliProcess first({source_->path().string(), dest});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!first.Ended() && TotalMailboxBytes(destination.path()) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    CliProcess second({source_->path().string(), dest});
    const int secondStatus = second.Wait();
    if (!first.Ended()) {
      EXPECT_EQ(ExitStatus(secondStatus), 2);
      EXPECT_EQ(second.err(), "quillfen-cli: another conversion is writing into " + dest + "\n");
    }
    EXPECT_EQ(ExitStatus(first.Wait()), 0) << first.err();
  }
  const auto sizes = [&] {
    std::vector<std::uintmax_t> all;
    for (const fs::path& mailbox : FindMailboxes(destination.path()))
      all.push_back(fs::file_size(mailbox));
    return all;
  };
  const auto once = sizes();

  CliProcess repeat({source_->path().string(), dest});
  EXPECT_EQ(ExitStatus(repeat.Wait()), 0);
  EXPECT_EQ(repeat.out(), source_->path().string() + " was already converted into " + dest +
                              "; nothing to do (use --again to add a second copy).\n");
  EXPECT_EQ(sizes(), once);

  CliProcess again({"--again", source_->path().string(), dest});
  EXPECT_EQ(ExitStatus(again.Wait()), 0) << again.err();
  const auto twice = sizes();
  ASSERT_EQ(twice.size(), once.size());
  for (std::size_t i = 0; i < once.size(); ++i) EXPECT_EQ(twice[i], 2 * once[i]);
}

}  // namespace
}  // namespace quillfen::test
