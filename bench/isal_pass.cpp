// One ISA-L decompression pass of a .tgz to nowhere: the floor of an archive
// conversion that inflates with ISA-L, as zlib_pass is zlib's.
//
//   isal_pass ARCHIVE [OUT]
//
// Reads and inflates through 256 KiB buffers, as the conversion does, every
// gzip member in turn with its CRC and length checked. Prints the number of
// decompressed bytes; exits 1 when the archive cannot be read.
//
// With OUT, the decompressed bytes are also gathered into 1 MiB batches and
// appended to the new file OUT, as the conversion writes its mailboxes: the
// least a conversion of the archive does, inflating it and writing about as
// many bytes, with nothing parsed, quoted or hashed.

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: isal_pass ARCHIVE [OUT]\n");
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
  int out = -1;
  if (argc == 3) {
    out = open(argv[2], O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
      std::perror(argv[2]);
      return 1;
    }
  }
  constexpr std::size_t kBatchSize = std::size_t{1} << 20;
  std::vector<std::uint8_t> batch;
  batch.reserve(out >= 0 ? kBatchSize : 0);
  // Writes the batch whole; false when the file cannot take it.
  const auto writeBatch = [&batch, out, &argv]() {
    for (std::size_t done = 0; done < batch.size();) {
      const ssize_t wrote = write(out, batch.data() + done, batch.size() - done);
      if (wrote <= 0) {
        std::perror(argv[2]);
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    batch.clear();
    return true;
  };
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
    if (out >= 0) {
      if (batch.size() + produced > kBatchSize && !writeBatch()) return 1;
      batch.insert(batch.end(), output.begin(),
                   output.begin() + static_cast<std::ptrdiff_t>(produced));
    }
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
  if (out >= 0) {
    if (!writeBatch()) return 1;
    if (close(out) != 0) {
      std::perror(argv[2]);
      return 1;
    }
  }
  std::printf("%lld bytes decompressed\n", total);
  return 0;
}
