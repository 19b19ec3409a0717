#pragma once

#include <filesystem>
#include <map>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "conversion/conversion.h"

struct archive_entry;

namespace quillfen::test {

// How a test archive is written.
struct TarOptions {
  bool gzip = true;
  bool pax = true;            // pax extended headers; ustar otherwise
  bool folderEntries = true;  // an entry for every folder, or files only
};

// Packs every file and folder below folder into archive, names relative to
// folder, in sorted order, with each file's modification time.
void PackFolder(const std::filesystem::path& folder, const std::filesystem::path& archive,
                const TarOptions& options = {});

// One hand-made entry, for archives no real folder could give.
struct TarEntry {
  enum class Kind { File, Folder, Symlink, Hardlink, Fifo };
  std::string name;
  Kind kind = Kind::File;
  std::string data;    // File only
  std::string target;  // Symlink and Hardlink
  long long mtime = 1367000000;

  static TarEntry File(std::string name, std::string data) {
    return {std::move(name), Kind::File, std::move(data), {}};
  }
  static TarEntry Link(std::string name, Kind kind, std::string target) {
    return {std::move(name), kind, {}, std::move(target)};
  }
  static TarEntry Fifo(std::string name) { return {std::move(name), Kind::Fifo, {}, {}}; }
};

// Gives an entry its name (UTF-8 on Windows, the bytes themselves elsewhere).
void SetEntryName(archive_entry* entry, const std::string& name);

void WriteTar(const std::filesystem::path& archive, const std::vector<TarEntry>& entries,
              bool gzip = true);

// Converts source (a folder or an archive) into destination as a front end
// does, the missing messages only.
ConversionReport ConvertSource(const std::string& source, const std::string& destination,
                               ConversionSink* sink = nullptr, std::stop_token stop = {});

// The folder below destination that mirrors sourceFolder (both ending with
// the separator).
std::filesystem::path MirrorOf(const std::string& destination, const std::string& sourceFolder);

// Every .mbox file below mirrorRoot, by path relative to it, with its records
// (From line, LF, text) sorted, so that mailboxes compare as sets of records.
// Any other file below mirrorRoot shows up with the single record "not an
// mbox file".
std::map<std::string, std::vector<std::string>> MailboxRecordSets(
    const std::filesystem::path& mirrorRoot);

// Every regular file below folder, as paths relative to it, written with
// "/" on every system.
std::vector<std::string> FilesBelow(const std::filesystem::path& folder);

}  // namespace quillfen::test
