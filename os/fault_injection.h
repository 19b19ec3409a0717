#pragma once

#include <cstdint>
#include <string>

namespace quillfen::os {

// Faults that a test plants in the file calls, so that a full disk, a close
// that fails or a cut-back that fails can be tested deterministically,
// without root, a small file system or a file-size limit. Only files whose
// path contains pathPart are affected (every file when it is empty).
struct Faults {
  std::string pathPart;
  // Appends go through for this many more bytes in all, then fail with
  // Failure::NoSpace; the bytes up to the limit reach the file, as on a disk
  // that fills up during a write. Negative: no limit.
  std::int64_t bytesBeforeFullDisk = -1;
  // Close fails with an input/output error; the file is closed all the same.
  bool failClose = false;
  // CutBack fails with an input/output error and leaves the file as it was.
  bool failCutBack = false;
  // Listing a folder fails as if its permissions forbade it.
  bool failListing = false;
  // Flushes to disk return at once, as if done, for tests that simulate a
  // crash themselves and need not wait for the disk.
  bool skipFlushes = false;
  // Starting a thread fails as if the system had none left to give, for
  // every thread whatever pathPart says.
  bool failThreadStart = false;
};

// Plants faults for the object's lifetime, for every thread. Only one may
// exist at a time.
class ScopedFaults {
 public:
  explicit ScopedFaults(Faults faults);
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

}  // namespace quillfen::os
