#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quillfen::test {

// Mailbox paths with the texts of their records, as a set that counts
// repeats.
using Holdings = std::map<std::string, std::multiset<std::string>>;

// Whether file is named like a message (".eml" in any case, trailing spaces
// aside).
bool IsMessageFile(const std::filesystem::path& file);

// Where a message belongs, worked out independently of the converter: the
// message's folder path below the destination, a batch folder "<name>!N"
// joining its sibling "<name>" when that exists, and one mailbox per folder
// named after it.
std::filesystem::path ExpectedMailbox(const std::filesystem::path& message,
                                      const std::filesystem::path& destination);

// Every message below source, as its mailbox should hold it once.
Holdings ExpectedHoldings(const std::filesystem::path& source,
                          const std::filesystem::path& destination);

// Every mailbox below destination, read back with an independent reader and
// unquoted. A file other than a mailbox fails the calling test.
Holdings StoredHoldings(const std::filesystem::path& destination);

std::size_t RecordCount(const Holdings& holdings);

// The names of the .mbox files below folder, sorted.
std::vector<std::filesystem::path> FindMailboxes(const std::filesystem::path& folder);

// Fails the calling test unless the destination holds each message of
// source exactly once, byte for byte, in its own folder's mailbox, and
// nothing else.
void ExpectEveryMessageOnce(const std::filesystem::path& source,
                            const std::filesystem::path& destination);

}  // namespace quillfen::test
