#pragma once

#include <cstdint>
#include <string>

#include "destination/index_lines.h"
#include "os/file.h"

namespace quillfen {

// The index in the destination's hidden folder: read once, when the
// destination is opened, and from then on only appended to. It always ends
// on a whole line for whoever appends next: a line cut short by an ended
// process, or any damage, is dropped before anything is appended, and with
// it whatever follows.
class IndexFile {
 public:
  // Opens the index below root (ending with the separator), creating it
  // when missing. Throws DestinationError.
  explicit IndexFile(const std::string& root);

  // What the index says, as far as it is whole, read piece bytes at a time.
  // An index that is empty, whose first write was cut short, or that is not
  // ours says nothing. One that is not trusted (damaged, or of an older
  // kind) is begun afresh by the first Append, as is an empty one. Throws
  // DestinationError.
  IndexContents Read(std::size_t piece = std::size_t{1} << 20);
  // Appends the lines, and waits until they are on the disk when flush is
  // set; they are then cleared. Throws DestinationError: the index then
  // ends where it ended before, as far as the system lets it, and the lines
  // are kept for the next write, so that none is lost when the run goes
  // on.
  void Append(IndexLines& lines, bool flush);
  // Waits until everything written to the file system that holds the index
  // is on the disk: the mailboxes' records before a mark vouches for them.
  // Throws DestinationError.
  void FlushFileSystem();

 private:
  std::string folder_;  // the hidden folder, for the reasons given
  os::File file_;
  // The length of the index up to its last whole line.
  std::int64_t goodLength_ = 0;
  bool hasFirstLine_ = false;
  // The lines after the first: the number the next one gets, less one.
  std::int64_t lines_ = 0;
};

}  // namespace quillfen
