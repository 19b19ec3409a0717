#include "mbox/record_bytes.h"

#include <cstdint>

namespace quillfen {

namespace {

// The room a text copied into a batch may grow into by its quoting; one that
// needs more is quoted on the way instead.
constexpr std::size_t kQuotingRoom = 64;
constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::string_view WriteRecordInPlace(const FromLine& fromLine, char* text, std::size_t size,
                                    std::size_t before, std::size_t after) {
  const std::size_t head = fromLine.size() + kLineEnd.size();
  if (head > before || after < kLineEnd.size() || fromLine.HoldsLineBreak()) return {};
  const std::size_t quoted = QuoteInPlace(text, size, after - kLineEnd.size());
  if (quoted == SIZE_MAX) return {};
  kLineEnd.copy(text + quoted, kLineEnd.size());
  char* const record = text - head;
  fromLine.CopyTo(record);
  kLineEnd.copy(text - kLineEnd.size(), kLineEnd.size());
  return std::string_view(record, head + quoted + kLineEnd.size());
}

std::size_t ExpectedRecordSize(const FromLine& fromLine, std::size_t textSize) {
  return fromLine.size() + textSize + 2 * kLineEnd.size() + kQuotingRoom;
}

void AppendRecord(const FromLine& fromLine, std::string_view text, std::string& batch,
                  MboxQuoter& quoter) {
  const std::size_t start = batch.size();
  const std::size_t head = fromLine.size() + kLineEnd.size();
  const std::size_t tail = kQuotingRoom + kLineEnd.size();
  // Room for the From line, the text, and the room its quoting may take.
  batch.append(head, '\0');
  batch += text;
  batch.append(tail, '\0');
  const std::string_view record =
      WriteRecordInPlace(fromLine, batch.data() + start + head, text.size(), head, tail);
  if (!record.empty()) {
    batch.resize(start + record.size());
    return;
  }
  batch.resize(start);
  fromLine.AppendTo(batch);
  batch += kLineEnd;
  quoter.Feed(text, batch);
  quoter.Finish(batch);
  batch += kLineEnd;
}

}  // namespace quillfen
