#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "conversion/conversion.h"
#include "conversion/message_converter.h"
#include "source/message_source.h"

namespace quillfen::test {

// A message held in memory, handed out in pieces of at most pieceSize bytes
// (0: as much as asked for), as an archive entry or a large file arrives.
class BytesSource : public MessageSource {
 public:
  BytesSource(std::string bytes, long long fallbackTime, std::size_t pieceSize = 0)
      : bytes_(std::move(bytes)), fallbackTime_(fallbackTime), pieceSize_(pieceSize) {}

  std::size_t Read(char* buffer, std::size_t size) override;
  long long FallbackTime() const override { return fallbackTime_; }

 private:
  std::string bytes_;
  long long fallbackTime_;
  std::size_t pieceSize_;
  std::size_t at_ = 0;
};

// What became of the message; its mailbox is the one it went into (or was
// meant for; empty when none could be derived), whether it failed or not.
using BytesOutcome = MessageOutcome;

// Converts one message, as if it were the file sourceFile of a scanned
// export, into its mailbox below destination (a conversion of its own).
BytesOutcome ConvertBytes(const std::string& destination, const std::string& sourceFile,
                          std::string bytes, long long fallbackTime = 1372636800,
                          std::size_t pieceSize = 0);

// Converts source into destination in this process, quietly; decide
// answers the plan (converting what is missing when empty).
ConversionReport ConvertInProcess(const std::filesystem::path& source,
                                  const std::filesystem::path& destination,
                                  const DecideFunction& decide = {});

}  // namespace quillfen::test
