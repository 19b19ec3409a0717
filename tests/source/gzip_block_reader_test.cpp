#include "source/gzip_block_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/source/archive_test_support.h"
#include "tests/support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;

// What a reader gives: every byte, and the failure's text at the end.
struct Reading {
  std::string bytes;
  std::string error;
};

Reading ReadAll(const fs::path& path, GzipInflater inflater) {
  GzipBlockReader reader(path.string(), inflater);
  Reading reading;
  for (;;) {
    const DecompressedBlock& block = reader.Next();
    if (block.size == 0) {
      reading.error = block.error;
      return reading;
    }
    reading.bytes.append(block.data, block.size);
  }
}

// One gzip member of data; with a file name in its header when named.
std::string GzipMember(const std::string& data, bool named) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  gz_header header{};
  char name[] = "member.tar";
  if (named) {
    header.name = reinterpret_cast<Bytef*>(name);
    deflateSetHeader(&stream, &header);
  }
  std::string out(deflateBound(&stream, data.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Members of every size from empty to a few hundred KiB, of text and of
// bytes that do not compress, so that members begin and end all over the
// reader's input buffers; then zero bytes that begin no member.
std::pair<std::string, std::string> ManyMembers(int count) {
  std::string plain;
  std::string gzip;
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int i = 0; i < count; ++i) {
    const std::size_t size = i % 97 == 0 ? next() % 300000 : (i % 13 == 0 ? 0 : next() % 400);
    std::string data;
    for (std::size_t j = 0; j < size; ++j)
      data += (i % 3 == 0) ? static_cast<char>(next() >> 24) : "From a\nbody\n"[next() % 12];
    plain += data;
    gzip += GzipMember(data, i % 5 == 0);
  }
  gzip += std::string(3, '\0');
  return {plain, gzip};
}

// ISA-L must give zlib's bytes, zlib being the reference: an export's
// archive, a plain tar, many members one after another, files too short to
// be gzip.
TEST(GzipBlockReader, IsalGivesZlibsBytes) {
  if (!GzipInflaterAvailable(GzipInflater::Isal)) GTEST_SKIP() << "built without ISA-L";
  test::TempDir temp;
  std::vector<fs::path> files;
  const fs::path corpus = test::CorpusRoot();
  if (!corpus.empty()) {
    test::PackFolder(corpus, temp.path() / "corpus.tgz");
    test::PackFolder(corpus, temp.path() / "corpus.tar", {.gzip = false});
    files = {temp.path() / "corpus.tgz", temp.path() / "corpus.tar"};
  }
  const auto [plain, gzip] = ManyMembers(3000);
  test::WriteFile(temp.path() / "members.gz", gzip);
  test::WriteFile(temp.path() / "one-byte", "\x1f");
  test::WriteFile(temp.path() / "empty", "");
  files.insert(files.end(),
               {temp.path() / "members.gz", temp.path() / "one-byte", temp.path() / "empty"});
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const Reading zlib = ReadAll(file, GzipInflater::Zlib);
    const Reading isal = ReadAll(file, GzipInflater::Isal);
    EXPECT_EQ(zlib.error, "");
    EXPECT_EQ(isal.error, "");
    EXPECT_TRUE(isal.bytes == zlib.bytes)
        << "ISA-L gave " << isal.bytes.size() << " bytes, zlib " << zlib.bytes.size();
    if (file.filename() == "members.gz") {
      EXPECT_TRUE(zlib.bytes == plain);
    }
  }
  if (corpus.empty())
    GTEST_SKIP() << "the shared corpus ../shared/corpus/zimbra-export is absent: its archive was "
                    "not compared";
}

// Damage is reported in zlib's words whichever inflater found it, and a cut
// file gives the same bytes before it fails.
TEST(GzipBlockReader, IsalFailsWithZlibsTexts) {
  if (!GzipInflaterAvailable(GzipInflater::Isal)) GTEST_SKIP() << "built without ISA-L";
  test::TempDir temp;
  const std::string first = GzipMember(std::string(200000, 'x') + "From y\n", false);
  const std::string second = GzipMember(ManyMembers(1).first + "tail", true);
  const std::string whole = first + second;
  const auto flipped = [&whole](std::size_t at) {
    std::string bytes = whole;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    return bytes;
  };
  const std::vector<std::pair<std::string, std::string>> damaged = {
      {"cut in the data", whole.substr(0, first.size() + second.size() / 2)},
      {"cut in the trailer", whole.substr(0, whole.size() - 3)},
      {"cut after a member's magic", whole.substr(0, first.size() + 2)},
      {"data", flipped(first.size() / 2)},
      {"CRC", flipped(first.size() - 6)},
      {"length", flipped(whole.size() - 2)},
      {"method", flipped(first.size() + 2)},
  };
  for (const auto& [name, bytes] : damaged) {
    SCOPED_TRACE(name);
    test::WriteFile(temp.path() / "damaged.gz", bytes);
    const Reading zlib = ReadAll(temp.path() / "damaged.gz", GzipInflater::Zlib);
    const Reading isal = ReadAll(temp.path() / "damaged.gz", GzipInflater::Isal);
    EXPECT_NE(zlib.error, "");
    EXPECT_EQ(isal.error, zlib.error);
    if (name.starts_with("cut")) {
      // Up to the cut, a cut file gives the same bytes.
      EXPECT_EQ(isal.error, "the compressed data ends too early");
      EXPECT_TRUE(isal.bytes == zlib.bytes)
          << "ISA-L gave " << isal.bytes.size() << " bytes, zlib " << zlib.bytes.size();
    }
  }
}

}  // namespace
}  // namespace quillfen
