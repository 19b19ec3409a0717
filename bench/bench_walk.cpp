// Times the folder walker on a large tree and measures what its queue costs
// in memory.
//
//   bench_walk generate DIR [--files N] [--folders F]
//       Creates a tree of N empty files spread evenly over F folders (two
//       levels deep, names shaped like a real export). DIR must not exist.
//   bench_walk walk DIR [--runs R]
//       Walks the tree R times and prints the files queued, the time of each
//       walk, the heap held per queued file and the peak resident size.
//   bench_walk queue [--entries N]
//       Fills the walker's queue with N path-like values, and a vector of
//       strings with the same for comparison, reads each back in order, and
//       prints times and bytes per entry.

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "source/folder_walker.h"
#include "source/path_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes the allocator has handed out and not yet taken back.
std::size_t HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#else
  return 0;
#endif
}

long PeakRssKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Hears every count, as the window does, without the cost of showing it.
class CountingObserver : public quillfen::ScanObserver {
 public:
  void Queued(std::int32_t files, std::int32_t) override {
    lastLength_ = static_cast<std::size_t>(files);
  }
  void Yield() override { ++yields_; }
  std::size_t lastLength_ = 0;
  std::size_t yields_ = 0;
};

// The value after --name among the arguments from position first on.
long Option(int argc, char** argv, int first, const std::string& name, long fallback) {
  for (int i = first; i + 1 < argc; ++i)
    if (argv[i] == name) return std::stol(argv[i + 1]);
  return fallback;
}

std::string FileName(long id) {
  char name[64];
  std::snprintf(name, sizeof name, "%010ld-%ld.%06ld_2_.eml", id, 1382298000L + id % 997,
                (id * 7919) % 1000000);
  return name;
}

int Generate(const std::filesystem::path& root, long files, long folders) {
  namespace fs = std::filesystem;
  if (fs::exists(root)) throw std::runtime_error(root.string() + " exists already");
  if (files < 0 || folders < 1) throw std::runtime_error("need at least one folder");

  // Ten top folders, the rest spread below them.
  const long top = std::min(folders, 10L);
  std::vector<fs::path> all;
  for (long t = 0; t < top; ++t) all.push_back(root / ("Folder " + std::to_string(t)));
  for (long s = 0; s < folders - top; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "Sub %03ld", s / top);
    all.push_back(all[static_cast<std::size_t>(s % top)] / name);
  }

  long id = 1;
  for (long f = 0; f < folders; ++f) {
    fs::create_directories(all[static_cast<std::size_t>(f)]);
    const long here = files / folders + (f < files % folders ? 1 : 0);
    for (long k = 0; k < here; ++k, ++id) {
      std::ofstream out(all[static_cast<std::size_t>(f)] / FileName(id));
      if (!out)
        throw std::runtime_error("cannot write in " + all[static_cast<std::size_t>(f)].string());
    }
  }
  std::printf("generated %ld files in %ld folders below %s\n", id - 1, folders, root.c_str());
  return 0;
}

int Walk(const std::string& root, long runs) {
  CountingObserver observer;
  quillfen::FolderWalker walker(&observer);
  std::vector<double> seconds;
  std::size_t heldBytes = 0;
  std::int32_t count = 0;
  for (long run = 0; run < runs; ++run) {
    const std::size_t heapBefore = HeapInUse();
    const Clock::time_point start = Clock::now();
    walker.Walk(root);
    seconds.push_back(SecondsSince(start));
    count = static_cast<std::int32_t>(walker.queue()->size());
    // Only the first walk starts from nothing: a later one lets go of the
    // queue before it, and the difference would go below zero.
    if (const std::size_t heapAfter = HeapInUse(); run == 0 && heapAfter > heapBefore)
      heldBytes = heapAfter - heapBefore;
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("files queued      %d\n", count);
  std::printf("walk seconds      median %.4f  min %.4f  max %.4f  (%ld runs)\n",
              seconds[seconds.size() / 2], seconds.front(), seconds.back(), runs);
  if (count > 0 && heldBytes > 0)
    std::printf("heap per file     %.1f bytes (queue and folder list, paths included)\n",
                static_cast<double>(heldBytes) / count);
  std::printf("peak RSS          %ld KiB\n", PeakRssKiB());
  return 0;
}

// Fills a container with entries path-like values and reads them back in
// order; prints the time of both and the heap it holds per entry.
template <typename Queue>
void MeasureQueue(const char* what, long entries) {
  const std::string folder = "/home/someone/Exports/Mail/Folder 3/Sub 042/";
  const std::size_t heapBefore = HeapInUse();
  Clock::time_point start = Clock::now();
  Queue queue;
  for (long k = 1; k <= entries; ++k) queue.push_back(folder + FileName(k));
  const double addSeconds = SecondsSince(start);
  const std::size_t held = HeapInUse() - heapBefore;

  start = Clock::now();
  std::size_t read = 0;
  for (const std::string& path : queue) read += path.size();
  const double readSeconds = SecondsSince(start);

  std::printf("%-12s add all %.3f s, read all %.3f s (%zu bytes), heap per entry %.1f bytes\n",
              what, addSeconds, readSeconds, read,
              static_cast<double>(held) / static_cast<double>(std::max(1L, entries)));
}

int Queue(long entries) {
  std::printf("entries           %ld\n", entries);
  MeasureQueue<quillfen::PathQueue>("PathQueue", entries);
  MeasureQueue<std::vector<std::string>>("vector", entries);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "queue") return Queue(Option(argc, argv, 2, "--entries", 1000000));
    if (argc < 3) {
      std::fprintf(stderr,
                   "usage: bench_walk generate DIR [--files N] [--folders F]\n"
                   "       bench_walk walk DIR [--runs R]\n"
                   "       bench_walk queue [--entries N]\n");
      return 2;
    }
    if (mode == "generate")
      return Generate(argv[2], Option(argc, argv, 3, "--files", 100000),
                      Option(argc, argv, 3, "--folders", 1000));
    if (mode == "walk") return Walk(argv[2], std::max(1L, Option(argc, argv, 3, "--runs", 1)));
    std::fprintf(stderr, "bench_walk: unknown mode %s\n", mode.c_str());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_walk: %s\n", error.what());
    return 1;
  }
}
