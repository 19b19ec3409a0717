#include "tests/source/archive_test_support.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

#include "os/folders.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {

namespace fs = std::filesystem;

namespace {

struct WriterFree {
  void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};
using Writer = std::unique_ptr<archive, WriterFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;

void Check(archive* writer, int status, const std::string& what) {
  if (status < ARCHIVE_WARN) {
    const char* text = archive_error_string(writer);
    throw std::runtime_error(what + ": " + (text != nullptr ? text : "unknown error"));
  }
}

Writer OpenWriter(const fs::path& path, bool gzip, bool pax) {
  Writer writer(archive_write_new());
  Check(writer.get(),
        gzip ? archive_write_add_filter_gzip(writer.get())
             : archive_write_add_filter_none(writer.get()),
        "filter");
  Check(writer.get(),
        pax ? archive_write_set_format_pax_restricted(writer.get())
            : archive_write_set_format_ustar(writer.get()),
        "format");
#ifdef _WIN32
  Check(writer.get(), archive_write_open_filename_w(writer.get(), path.c_str()), "open");
#else
  Check(writer.get(), archive_write_open_filename(writer.get(), path.c_str()), "open");
#endif
  return writer;
}

void WriteEntry(archive* writer, const TarEntry& wanted) {
  Entry entry(archive_entry_new());
  SetEntryName(entry.get(), wanted.name);
  archive_entry_set_mtime(entry.get(), static_cast<time_t>(wanted.mtime), 0);
  switch (wanted.kind) {
    case TarEntry::Kind::File:
      archive_entry_set_filetype(entry.get(), AE_IFREG);
      archive_entry_set_perm(entry.get(), 0644);
      archive_entry_set_size(entry.get(), static_cast<la_int64_t>(wanted.data.size()));
      break;
    case TarEntry::Kind::Folder:
      archive_entry_set_filetype(entry.get(), AE_IFDIR);
      archive_entry_set_perm(entry.get(), 0755);
      break;
    case TarEntry::Kind::Symlink:
      archive_entry_set_filetype(entry.get(), AE_IFLNK);
      archive_entry_set_perm(entry.get(), 0777);
      archive_entry_set_symlink_utf8(entry.get(), wanted.target.c_str());
      break;
    case TarEntry::Kind::Hardlink:
      archive_entry_set_filetype(entry.get(), AE_IFREG);
      archive_entry_set_perm(entry.get(), 0644);
      archive_entry_set_hardlink_utf8(entry.get(), wanted.target.c_str());
      break;
    case TarEntry::Kind::Fifo:
      archive_entry_set_filetype(entry.get(), AE_IFIFO);
      archive_entry_set_perm(entry.get(), 0644);
      break;
  }
  Check(writer, archive_write_header(writer, entry.get()), "header of " + wanted.name);
  if (wanted.kind == TarEntry::Kind::File && !wanted.data.empty() &&
      archive_write_data(writer, wanted.data.data(), wanted.data.size()) < 0)
    Check(writer, ARCHIVE_FATAL, "data of " + wanted.name);
}

void Close(archive* writer) {
  Check(writer, archive_write_close(writer), "close");
}

}  // namespace

void SetEntryName(archive_entry* entry, const std::string& name) {
#ifdef _WIN32
  // The name is UTF-8, not in the system's code page.
  archive_entry_set_pathname_utf8(entry, name.c_str());
#else
  // As the bytes are, valid UTF-8 or not, as a POSIX tar stores them.
  archive_entry_set_pathname(entry, name.c_str());
#endif
}

void PackFolder(const fs::path& folder, const fs::path& archive, const TarOptions& options) {
  std::vector<fs::path> paths;
  for (const auto& item : fs::recursive_directory_iterator(folder)) paths.push_back(item.path());
  std::sort(paths.begin(), paths.end());

  Writer writer = OpenWriter(archive, options.gzip, options.pax);
  for (const fs::path& path : paths) {
    TarEntry wanted;
    const std::u8string name = path.lexically_relative(folder).generic_u8string();
    wanted.name.assign(name.begin(), name.end());
    os::PathFacts facts;
    if (!os::Inspect(Utf8(path), facts).ok())
      throw std::runtime_error("cannot inspect " + Utf8(path));
    wanted.mtime = facts.modificationTime;
    if (fs::is_directory(path)) {
      if (!options.folderEntries) continue;
      wanted.kind = TarEntry::Kind::Folder;
    } else {
      wanted.data = ReadFile(path);
    }
    WriteEntry(writer.get(), wanted);
  }
  Close(writer.get());
}

void WriteTar(const fs::path& archive, const std::vector<TarEntry>& entries, bool gzip) {
  Writer writer = OpenWriter(archive, gzip, true);
  for (const TarEntry& entry : entries) WriteEntry(writer.get(), entry);
  Close(writer.get());
}

ConversionReport ConvertSource(const std::string& source, const std::string& destination,
                               ConversionSink* sink, std::stop_token stop) {
  ConversionRequest request;
  request.source = source;
  request.destination = destination;
  ConversionSink quiet;
  return Convert(request, {}, sink != nullptr ? *sink : quiet, std::move(stop));
}

fs::path MirrorOf(const std::string& destination, const std::string& sourceFolder) {
  return fs::path(destination) / fs::path(sourceFolder).relative_path();
}

std::map<std::string, std::vector<std::string>> MailboxRecordSets(const fs::path& mirrorRoot) {
  std::map<std::string, std::vector<std::string>> sets;
  if (!fs::exists(mirrorRoot)) return sets;
  for (const auto& item : fs::recursive_directory_iterator(mirrorRoot)) {
    if (!item.is_regular_file()) continue;
    const std::string relative = item.path().lexically_relative(mirrorRoot).generic_string();
    std::vector<std::string>& records = sets[relative];
    if (item.path().extension() != ".mbox") {
      records.push_back("not an mbox file");
      continue;
    }
    for (const StoredRecord& record : ReadMbox(item.path()))
      records.push_back(record.fromLine + "\n" + record.text);
    std::sort(records.begin(), records.end());
  }
  return sets;
}

std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  if (!fs::exists(folder)) return files;
  // The destination's own hidden folder (its lock and index) holds no mail.
  for (auto item = fs::recursive_directory_iterator(folder); item != fs::end(item); ++item) {
    if (item->path().filename() == ".quillfen") {
      item.disable_recursion_pending();
      continue;
    }
    if (!item->is_directory())
      files.push_back(item->path().lexically_relative(folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace quillfen::test
