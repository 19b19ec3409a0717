#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace quillfen::test {

// How big the generated messages' bodies are, in bytes (roughly: lines are
// whole, so a body may be up to one line longer).
struct MessageTreeSizes {
  std::size_t minBodyBytes = 200;
  std::size_t maxBodyBytes = 2000;
};

// Writes an export-like folder tree below root (created when missing) and
// returns the message files written, in the order written.
//
// The tree holds folderCount message folders (at least one), some nested;
// the second folder is always the batch folder "Inbox!1" beside "Inbox".
// Messages are spread over the folders in turn and named like the export
// names them ("0000000001-subject.eml"), each with a ".meta" file beside it.
// The root also holds one file that is not a message ("notes.txt").
//
// The messages vary on purpose: LF or CR LF line ends, some without a final
// line end, charsets us-ascii / utf-8 / iso-8859-1 with matching non-ASCII
// bytes, body lines that begin with "From " or ">From ", messages without a
// Date (a Received header instead) and with or without Return-Path. None
// starts with an envelope "From " line. The same seed gives the same tree.
std::vector<std::filesystem::path> GenerateMessageTree(const std::filesystem::path& root,
                                                       int messageCount, int folderCount,
                                                       std::uint32_t seed,
                                                       const MessageTreeSizes& sizes = {});

}  // namespace quillfen::test
