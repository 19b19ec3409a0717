// The floor of a conversion that only has to find out what the destination
// holds already: every message file of SOURCE read once, front to back, on
// one thread, in the walker's order (folders in byte order), and nothing
// else done with the bytes.
//
//   read_floor SOURCE

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_floor SOURCE\n");
    return 2;
  }
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(argv[1]))
    if (entry.is_regular_file() && entry.path().extension() == ".eml")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<char> buffer(1 << 20);
  unsigned long long bytes = 0;
  for (const fs::path& file : files) {
    const int fd = open(file.c_str(), O_RDONLY);
    if (fd < 0) continue;
    for (;;) {
      const ssize_t got = read(fd, buffer.data(), buffer.size());
      if (got <= 0) break;
      bytes += static_cast<unsigned long long>(got);
    }
    close(fd);
  }
  std::printf("read %zu files, %llu bytes\n", files.size(), bytes);
  return 0;
}
