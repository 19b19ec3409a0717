// One zlib decompression pass of a .tgz to nowhere: the floor that an archive
// conversion, which has to decompress the whole archive at least once, is
// held against.
//
//   zlib_pass ARCHIVE
//
// Reads with gzread through the same 256 KiB buffers as the conversion, so
// that only the conversion's own work makes up the difference. Prints the
// number of decompressed bytes; exits 1 when the archive cannot be read.

#include <zlib.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zlib_pass ARCHIVE\n");
    return 2;
  }
  constexpr unsigned kBlockSize = 256 * 1024;
  gzFile file = gzopen(argv[1], "rb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  gzbuffer(file, kBlockSize);
  std::vector<char> buffer(kBlockSize);
  long long total = 0;
  int got = 0;
  while ((got = gzread(file, buffer.data(), kBlockSize)) > 0) total += got;
  int code = Z_OK;
  const char* reason = gzerror(file, &code);
  if (got < 0 || code != Z_OK) {
    std::fprintf(stderr, "zlib_pass: %s: %s\n", argv[1], reason);
    gzclose(file);
    return 1;
  }
  gzclose(file);
  std::printf("%lld bytes decompressed\n", total);
  return 0;
}
