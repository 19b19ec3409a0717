#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillfen {

// One .mbox file open for appending. It learns the file's length and whether
// its last byte ends a line once, when opened, and keeps both itself from
// then on: the destination's lock makes this conversion the only writer.
// Every failure throws MessageFailure with a reason that names the mailbox
// side ("cannot write the mailbox: No space left on device").
class MailboxFile {
 public:
  // Opens path, creating it when missing. existed tells whether it was
  // there before.
  explicit MailboxFile(const std::string& path);
  ~MailboxFile();
  MailboxFile(const MailboxFile&) = delete;
  MailboxFile& operator=(const MailboxFile&) = delete;

  const std::string& path() const { return path_; }
  bool existed() const { return existed_; }
  std::int64_t length() const { return length_; }

  // Starts a record: when an earlier failure could not be undone the file is
  // cut back now, and when the file ends in the middle of a line (text that
  // another program left) a line end goes first, so that the record's From
  // line always starts a line. Gives the length to cut back to should the
  // record fail.
  std::int64_t BeginRecord();
  // Appends bytes at the end. On failure the file is cut back to
  // recordStart, the length BeginRecord gave, so it ends with a whole record.
  void Write(std::string_view bytes, std::int64_t recordStart);
  void EndRecord() { endsWithLineEnd_ = true; }

  // False once the file was deleted while open: records written to it now
  // would be lost.
  bool StillThere() const;

  // Cuts the file back to length (a resumed conversion's last whole record).
  // Throws MessageFailure.
  void CutBack(std::int64_t length);

  // Closes the file; gives the reason when closing failed (the last writes
  // may then not have reached the disk), else the empty string.
  std::string Close();

 private:
  void TryCutBack(std::int64_t length, std::string& reason);

  std::string path_;
  int fd_ = -1;
  bool existed_ = false;
  std::int64_t length_ = 0;
  bool endsWithLineEnd_ = true;
  // The length an earlier failed cut-back still owes, or -1.
  std::int64_t owedCutBack_ = -1;
};

}  // namespace quillfen
