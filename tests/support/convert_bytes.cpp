#include "tests/support/convert_bytes.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "destination/destination.h"
#include "source/message_readers.h"

namespace quillfen::test {

std::size_t BytesSource::Read(char* buffer, std::size_t size) {
  std::size_t length = std::min(size, bytes_.size() - at_);
  if (pieceSize_ != 0) length = std::min(length, pieceSize_);
  std::memcpy(buffer, bytes_.data() + at_, length);
  at_ += length;
  return length;
}

BytesOutcome ConvertBytes(const std::string& destination, const std::string& sourceFile,
                          std::string bytes, long long fallbackTime, std::size_t pieceSize) {
  Destination target(destination);
  target.Begin();
  MessageConverter converter(target, {});
  BytesSource source(std::move(bytes), fallbackTime, pieceSize);
  BytesOutcome outcome =
      converter.Convert(0, sourceFile, [&source]() -> MessageSource& { return source; });
  try {
    std::string mirrorFolder;
    outcome.mailbox = converter.MailboxFor(sourceFile, mirrorFolder);
  } catch (const std::exception&) {
    // No mailbox can be derived from sourceFile.
  }
  target.Finish();
  return outcome;
}

ConversionReport ConvertInProcess(const std::filesystem::path& source,
                                  const std::filesystem::path& destination,
                                  const DecideFunction& decide) {
  ConversionSink sink;
  ConversionRequest request;
  request.source = source.string();
  request.destination = destination.string();
  return Convert(request, decide, sink);
}

}  // namespace quillfen::test
