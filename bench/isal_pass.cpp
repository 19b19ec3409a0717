// One ISA-L decompression pass of a .tgz to nowhere: the floor of an archive
// conversion that inflates with ISA-L, as zlib_pass is zlib's.
//
//   isal_pass ARCHIVE
//
// Reads and inflates through 256 KiB buffers, as the conversion does, every
// gzip member in turn with its CRC and length checked. Prints the number of
// decompressed bytes; exits 1 when the archive cannot be read.

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: isal_pass ARCHIVE\n");
    return 2;
  }
  constexpr std::size_t kBlockSize = 256 * 1024;
  const int file = open(argv[1], O_RDONLY);
  if (file < 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<std::uint8_t> input(kBlockSize);
  std::vector<std::uint8_t> output(kBlockSize);
  auto state = std::make_unique<inflate_state>();
  isal_inflate_init(state.get());
  state->crc_flag = ISAL_GZIP;
  long long total = 0;
  bool inMember = true;
  bool atEnd = false;
  for (;;) {
    if (state->avail_in == 0 && !atEnd) {
      const ssize_t got = read(file, input.data(), input.size());
      if (got < 0) {
        std::perror(argv[1]);
        return 1;
      }
      atEnd = got == 0;
      state->next_in = input.data();
      state->avail_in = static_cast<std::uint32_t>(got);
    }
    if (!inMember) {
      // Another member follows when its magic does; anything else ends it.
      if (state->avail_in < 2 || state->next_in[0] != 0x1f || state->next_in[1] != 0x8b) break;
      std::uint8_t* next = state->next_in;
      const std::uint32_t available = state->avail_in;
      isal_inflate_reset(state.get());
      state->crc_flag = ISAL_GZIP;
      state->next_in = next;
      state->avail_in = available;
      inMember = true;
    }
    state->next_out = output.data();
    state->avail_out = static_cast<std::uint32_t>(output.size());
    const int status = isal_inflate(state.get());
    const std::size_t produced = output.size() - state->avail_out;
    total += static_cast<long long>(produced);
    if (status < 0) {
      std::fprintf(stderr, "isal_pass: %s: damaged (%d)\n", argv[1], status);
      return 1;
    }
    if (state->block_state == ISAL_BLOCK_FINISH) {
      inMember = false;
    } else if (atEnd && produced == 0 && state->avail_in == 0) {
      std::fprintf(stderr, "isal_pass: %s: cut short\n", argv[1]);
      return 1;
    }
  }
  close(file);
  std::printf("%lld bytes decompressed\n", total);
  return 0;
}
