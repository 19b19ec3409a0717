// Times converting an export archive directly against extracting it with
// tar and converting the extracted folder.
//
//   bench_archive [messages]            generate, pack and compare (default 20,000)
//   bench_archive generate DIR MESSAGES  only write a generated export into DIR
//   bench_archive convert ARCHIVE DEST   only convert ARCHIVE into DEST, timed
//
// The comparison generates an export, packs it with tar into export.tgz
// (entries sorted by name, as the walker lists them), and then runs in turn:
//   1. the archive conversion (read in one pass, unless a batch folder came
//      before its sibling);
//   2. tar xzf into the folder the archive stands for, then the folder
//      conversion of that folder (walker and conversion run, in process).
// Both destinations must come out byte for byte the same; the script exits
// 1 when they do not.

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "conversion/conversion.h"
#include "tests/support/message_tree.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

void Run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("command failed: " + command);
}

quillfen::ConversionReport ConvertSource(const std::string& source,
                                         const std::string& destination) {
  // Converts source (a folder or an archive) into destination, as
  // quillfen-cli does, showing nothing.
  quillfen::ConversionSink sink;
  quillfen::ConversionRequest request;
  request.source = source;
  request.destination = destination;
  return quillfen::Convert(request, {}, sink);
}

int ConvertOnly(const std::string& archive, const std::string& destination) {
  const Clock::time_point start = Clock::now();
  const quillfen::ConversionReport report = ConvertSource(archive, destination + "/");
  std::printf("archive conversion: %.2f s, %d of %d messages\n", Seconds(start), report.converted,
              report.plan.messages);
  return report.failures.empty() && report.ending == quillfen::Ending::Finished ? 0 : 1;
}

int Compare(int messages) {
  char pattern[] = "/tmp/quillfen-bench-archive-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a temp folder");
  const fs::path work = pattern;
  const fs::path source = work / "generated";
  const fs::path archive = work / "export.tgz";
  const fs::path extracted = work / "export";  // the folder export.tgz stands for

  std::printf("generating %d messages...\n", messages);
  quillfen::test::GenerateMessageTree(source, messages, 40, 1, {2000, 40000});
  Run("tar czf " + Quoted(archive) + " --sort=name -C " + Quoted(source) + " .");
  std::printf("archive: %.1f MB\n", static_cast<double>(fs::file_size(archive)) / 1e6);
  Run("sync");

  auto start = Clock::now();
  const auto direct = ConvertSource(archive.string(), (work / "direct").string() + "/");
  const double directSeconds = Seconds(start);

  start = Clock::now();
  fs::create_directories(extracted);
  Run("tar xzf " + Quoted(archive) + " -C " + Quoted(extracted));
  const double tarSeconds = Seconds(start);
  start = Clock::now();
  const auto viaFolder = ConvertSource(extracted.string(), (work / "via-folder").string() + "/");
  const double folderSeconds = Seconds(start);

  std::printf("archive conversion:          %6.2f s, %d messages\n", directSeconds,
              direct.converted);
  std::printf(
      "tar xzf + folder conversion: %6.2f s (tar %.2f s + conversion %.2f s), %d messages\n",
      tarSeconds + folderSeconds, tarSeconds, folderSeconds, viaFolder.converted);
  std::printf("ratio: %.2f\n", directSeconds / (tarSeconds + folderSeconds));

  const int same = std::system(("diff -r -q -x .quillfen " + Quoted(work / "direct") + " " +
                                Quoted(work / "via-folder") + " >/dev/null")
                                   .c_str());
  std::printf("outputs %s\n", same == 0 ? "identical" : "DIFFER");
  fs::remove_all(work);
  return same == 0 && direct.failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "generate" && argc == 4) {
      quillfen::test::GenerateMessageTree(argv[2], std::atoi(argv[3]), 40, 1, {2000, 40000});
      return 0;
    }
    if (mode == "convert" && argc == 4) return ConvertOnly(argv[2], argv[3]);
    if (argc <= 2) return Compare(argc == 2 ? std::atoi(argv[1]) : 20000);
    std::fprintf(stderr,
                 "usage: bench_archive [messages] | generate DIR MESSAGES | convert ARCHIVE "
                 "DEST\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_archive: %s\n", e.what());
    return 1;
  }
}
