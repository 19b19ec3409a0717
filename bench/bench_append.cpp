// Times converting a tree of messages into mailboxes against plain byte
// copying of the same files into the same mailbox paths.
//
//   bench_append [tree]
//
// Without an argument a tree of 20,000 messages (2 to 40 KiB) is generated
// into a temporary folder and removed afterwards. The two ways run in turn,
// five times each, every run into a fresh destination; the medians and their
// ratio are printed.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
double ConvertAll(const std::vector<std::string>& files, const std::string& destination) {
  quillfen::ReaderState state;
  int failures = 0;
  const auto start = Clock::now();
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
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (failures) std::fprintf(stderr, "%d messages failed\n", failures);
  return seconds;
}

// The same files copied byte for byte into the same mailboxes, with the same
// open, append and close per message. The folders exist beforehand.
double CopyAll(const std::vector<std::string>& files, const std::vector<std::string>& mailboxes) {
  const auto start = Clock::now();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string bytes = ReadWhole(files[i]);
    const int fd = ::open(mailboxes[i].c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + mailboxes[i]);
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("short write to " + mailboxes[i]);
    ::close(fd);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
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

    std::vector<double> convertTimes, copyTimes;
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
      std::printf("run %d: convert %.3f s, copy %.3f s\n", run + 1, convertTimes.back(),
                  copyTimes.back());
    }
    const double convert = Median(convertTimes), copy = Median(copyTimes);
    std::printf("median convert %.3f s, median copy %.3f s, ratio %.2f\n", convert, copy,
                convert / copy);
    fs::remove_all(work);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_append: %s\n", error.what());
    return 1;
  }
}
