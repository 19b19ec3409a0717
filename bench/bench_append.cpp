// Times converting a tree of messages into mailboxes against plain byte
// copying of the same files into the same mailbox paths.
//
//   bench_append [tree]
//
// Without an argument a tree of 20,000 messages (2 to 40 KiB) is generated
// into a temporary folder and removed afterwards. The two ways run in turn,
// five times each, every run into a fresh destination; the medians of wall
// time and of the process's CPU time and their ratios are printed.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/mbox_record.h"
#include "convert/message_failure.h"
#include "tests/support/message_tree.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 5;

// Wall time, and the process's CPU time (user and system), which other
// programs on a shared machine disturb less.
struct Timing {
  double wall = 0;
  double cpu = 0;
};

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

class Stopwatch {
 public:
  Timing Stop() const {
    return {std::chrono::duration<double>(Clock::now() - wallStart_).count(),
            CpuSeconds() - cpuStart_};
  }

 private:
  Clock::time_point wallStart_ = Clock::now();
  double cpuStart_ = CpuSeconds();
};

std::string MakeTempFolder() {
  std::string pattern = (fs::temp_directory_path() / "quillfen-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temp folder");
  return pattern;
}

std::vector<std::string> MessagesBelow(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && entry.path().extension() == ".eml")
      files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadWhole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat info {};
  ::fstat(fd, &info);
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  bytes.resize(filled);
  return bytes;
}

// The conversion as a run does it, per message.
Timing ConvertAll(const std::vector<std::string>& files, const std::string& destination) {
  quillfen::ReaderState state;
  int failures = 0;
  const Stopwatch watch;
  for (const std::string& file : files) {
    try {
      const std::string mirror = quillfen::MirrorFolderFor(file, destination);
      quillfen::EnsureDirectory(mirror);
      quillfen::AppendMboxRecord(quillfen::MboxFileFor(mirror),
                                 quillfen::ReadMessageRecord(file, state, {}), {});
    } catch (const quillfen::MessageFailure&) {
      ++failures;
    }
  }
  const Timing timing = watch.Stop();
  if (failures) std::fprintf(stderr, "%d messages failed\n", failures);
  return timing;
}

// The same files copied byte for byte into the same mailboxes, with the same
// open, append and close per message. The folders exist beforehand.
Timing CopyAll(const std::vector<std::string>& files, const std::vector<std::string>& mailboxes) {
  const Stopwatch watch;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string bytes = ReadWhole(files[i]);
    const int fd = ::open(mailboxes[i].c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + mailboxes[i]);
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("short write to " + mailboxes[i]);
    ::close(fd);
  }
  return watch.Stop();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string work = MakeTempFolder();
    fs::path tree;
    if (argc > 1) {
      tree = argv[1];
    } else {
      tree = fs::path(work) / "tree";
      std::printf("generating 20000 messages in %s\n", tree.c_str());
      quillfen::test::GenerateMessageTree(tree, 20000, 40, 2024, {2 * 1024, 40 * 1024});
    }
    const std::vector<std::string> files = MessagesBelow(tree);
    std::uintmax_t totalBytes = 0;
    for (const std::string& file : files) totalBytes += fs::file_size(file);
    std::printf("%zu messages, %.1f MiB\n", files.size(), totalBytes / 1048576.0);

    // Warm the page cache so that neither way pays for the first reads.
    for (const std::string& file : files) (void)ReadWhole(file);

    std::vector<Timing> convertTimes, copyTimes;
    for (int run = 0; run < kRuns; ++run) {
      const std::string a = work + "/a" + std::to_string(run) + "/";
      convertTimes.push_back(ConvertAll(files, a));
      fs::remove_all(a);

      const std::string b = work + "/b" + std::to_string(run) + "/";
      std::vector<std::string> mailboxes;
      mailboxes.reserve(files.size());
      for (const std::string& file : files) {
        const std::string mirror = quillfen::MirrorFolderFor(file, b);
        quillfen::EnsureDirectory(mirror);
        mailboxes.push_back(quillfen::MboxFileFor(mirror));
      }
      copyTimes.push_back(CopyAll(files, mailboxes));
      fs::remove_all(b);
      std::printf("run %d: convert %.3f s (cpu %.3f s), copy %.3f s (cpu %.3f s)\n", run + 1,
                  convertTimes.back().wall, convertTimes.back().cpu, copyTimes.back().wall,
                  copyTimes.back().cpu);
    }
    auto median = [](const std::vector<Timing>& timings, double Timing::*field) {
      std::vector<double> values;
      for (const Timing& timing : timings) values.push_back(timing.*field);
      return Median(values);
    };
    const double convert = median(convertTimes, &Timing::wall);
    const double copy = median(copyTimes, &Timing::wall);
    const double convertCpu = median(convertTimes, &Timing::cpu);
    const double copyCpu = median(copyTimes, &Timing::cpu);
    std::printf("median wall: convert %.3f s, copy %.3f s, ratio %.2f\n", convert, copy,
                convert / copy);
    std::printf("median cpu:  convert %.3f s, copy %.3f s, ratio %.2f\n", convertCpu, copyCpu,
                convertCpu / copyCpu);
    fs::remove_all(work);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_append: %s\n", error.what());
    return 1;
  }
}
