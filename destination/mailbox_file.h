#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mbox/content_hash.h"
#include "mbox/mailbox_records.h"
#include "os/file.h"

namespace quillfen {

// One .mbox file open for appending. It learns the file's length and whether
// its last byte ends a line once, when opened, and keeps both itself from
// then on: the destination's lock makes this conversion the only writer.
// Every failure throws MessageFailure with a reason that names the mailbox
// side ("cannot write the mailbox: No space left on device").
//
// Small records are gathered into a batch that goes out in one write of
// about 1 MiB: one write per record was most of a conversion's time. A batch
// that cannot be written whole is cut back to its last whole record, and the
// records that did not get in are kept, with the reason, for the destination
// to take (TakeLost); those that did, with their hashes (TakeWritten).
class MailboxFile {
 public:
  // A record of the batch that never reached the file.
  struct LostRecord {
    std::int32_t index = 0;  // the message's place among the source's messages
    std::string file;        // the message's name, for the report
    std::string reason;
  };

  // Opens relative, below the destination folder root, creating it when
  // missing, without following a link on the way: a link, or a file with a
  // second name elsewhere, is left alone and throws MessageFailure. existed
  // tells whether it was there before.
  MailboxFile(const std::string& root, const std::string& relative);
  ~MailboxFile();
  MailboxFile(const MailboxFile&) = delete;
  MailboxFile& operator=(const MailboxFile&) = delete;

  const std::string& path() const { return path_; }
  bool existed() const { return existed_; }
  // The length with the batch's records, as if they were written.
  std::int64_t length() const { return length_; }

  // A whole record of about expected bytes goes into the batch: OpenRecord
  // gives the batch to append the record to (the batch is written first
  // when the record would take it past its size), and CloseRecord ends the
  // record of message index, named file, whose text has hash. DropRecord
  // takes back what was appended since OpenRecord. Throws MessageFailure
  // when an earlier failed record still cannot be removed from the file.
  std::string& OpenRecord(std::size_t expected);
  void CloseRecord(std::int32_t index, const std::string& file, const ContentHash& hash);
  void DropRecord();
  // Writes the batch. Never throws: records that did not get in become lost
  // records. release gives the batch's memory back, for a mailbox that the
  // conversion leaves for another one.
  void Flush(bool release = false);
  // The lost records since the last call, in the order they were added.
  std::vector<LostRecord> TakeLost();
  // The records that reached the file since the last call, in order.
  std::vector<HeldRecord> TakeWritten();
  // The file's last modification, as the system tells it.
  os::Status ModificationTime(std::int64_t& seconds) const {
    return file_.ModificationTime(seconds);
  }

  // The following calls write one large record in pieces, straight to the
  // file (the batch goes first).
  //
  // Starts a record: when an earlier failure could not be undone the file is
  // cut back now, and when the file ends in the middle of a line (text that
  // another program left) a line end goes first, so that the record's From
  // line always starts a line. Gives the length to cut back to should the
  // record fail.
  std::int64_t BeginRecord();
  // Appends bytes at the end. On failure the file is cut back to
  // recordStart, the length BeginRecord gave, so it ends with a whole record.
  void Write(std::string_view bytes, std::int64_t recordStart);
  // Ends the record, whose text has hash.
  void EndRecord(const ContentHash& hash) {
    ++recordsWritten_;
    endsWithLineEnd_ = true;
    writtenRecords_.push_back({hash, length_});
  }

  // False once the file was deleted while open: records written to it now
  // would be lost. Asks the system each time.
  bool StillThere() const;
  // True once a write found the file deleted. The file is looked at before
  // each batch and each large record is written, not for every record:
  // asking the system for every message cost more than the rest of the
  // bookkeeping.
  bool foundDeleted() const { return foundDeleted_; }

  // Cuts the file back to length (a resumed conversion's last whole record).
  // Throws MessageFailure.
  void CutBack(std::int64_t length);

  // Called before anything is written to the file; a reason it gives (not
  // empty) fails the write: the destination makes sure first that its
  // index knows this conversion writes to the file.
  void SetBeforeWriting(std::function<std::string()> before) { beforeWriting_ = std::move(before); }
  // Whether the batch holds records not yet written.
  bool HoldsBatch() const { return !batched_.empty(); }

  // The records that reached the file since it was opened.
  std::int32_t recordsWritten() const { return recordsWritten_; }
  // Whether Close found the file deleted: its records went with it.
  bool lostWithFile() const { return lostWithFile_; }

  // Writes the batch and waits until the file is on the disk; gives the
  // reason when that failed, else the empty string.
  std::string Sync();

  // Writes the batch and closes the file; gives the reason when closing
  // failed (the last writes may then not have reached the disk), else the
  // empty string.
  std::string Close();

 private:
  struct Batched {
    std::int64_t end = 0;  // the record's end in the file
    std::int32_t index = 0;
    std::size_t nameEnd = 0;  // the end of its message's name in batchedNames_
    ContentHash hash;
  };

  bool LastByteEndsLine(std::int64_t length);
  // Asks beforeWriting_; a reason it gives loses the batch's records.
  std::string ReadyToWrite();
  void TryCutBack(std::int64_t length, std::string& reason);
  // Cuts the file back to the length an earlier failed cut-back still owes,
  // if any. Throws MessageFailure when it still cannot.
  void RepayCutBack();
  void NoteDeletion();

  std::string path_;
  os::File file_;
  bool existed_ = false;
  std::int64_t length_ = 0;
  bool endsWithLineEnd_ = true;
  // The length an earlier failed cut-back still owes, or -1.
  std::int64_t owedCutBack_ = -1;

  // The batch: bytes not yet written, from the file's length on disk, and
  // the records they hold.
  std::string batch_;
  std::size_t recordMark_ = 0;     // the batch's size when the open record began
  bool endedBeforeRecord_ = true;  // endsWithLineEnd_ then
  std::int64_t written_ = 0;
  std::vector<Batched> batched_;
  // The names of the batch's messages one after the other, for the report
  // of those a batch that cannot be written loses: one string that keeps
  // its memory from batch to batch, where a name each would cost an
  // allocation for every message.
  std::string batchedNames_;
  bool foundDeleted_ = false;
  bool lostWithFile_ = false;
  std::function<std::string()> beforeWriting_;
  std::int32_t recordsWritten_ = 0;
  std::vector<LostRecord> lost_;
  std::vector<HeldRecord> writtenRecords_;
};

}  // namespace quillfen
