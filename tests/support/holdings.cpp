#include "tests/support/holdings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <vector>

#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {

namespace fs = std::filesystem;

bool IsMessageFile(const fs::path& file) {
  std::string name = file.filename().string();
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".eml";
}

fs::path ExpectedMailbox(const fs::path& message, const fs::path& destination) {
  fs::path folder = message.parent_path();
  static const std::regex kBatch("(.+)!\\d+");
  std::smatch match;
  const std::string name = folder.filename().string();
  if (std::regex_match(name, match, kBatch) &&
      fs::is_directory(folder.parent_path() / match[1].str()))
    folder = folder.parent_path() / match[1].str();
  return destination / folder.relative_path() / (folder.filename().string() + ".mbox");
}

Holdings ExpectedHoldings(const fs::path& source, const fs::path& destination) {
  Holdings expected;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (entry.is_regular_file() && IsMessageFile(entry.path()))
      expected[ExpectedMailbox(entry.path(), destination).string()].insert(
          WithoutEnvelopeLine(ReadFile(entry.path())));
  }
  return expected;
}

Holdings StoredHoldings(const fs::path& destination) {
  Holdings stored;
  for (auto it = fs::recursive_directory_iterator(destination); it != fs::end(it); ++it) {
    const fs::directory_entry& entry = *it;
    // The destination's own hidden folder (its lock and index) holds no mail.
    if (entry.path().filename() == ".quillfen") {
      it.disable_recursion_pending();
      continue;
    }
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(entry.path().extension(), ".mbox") << entry.path();
    auto& texts = stored[entry.path().string()];
    for (const StoredRecord& record : ReadMbox(entry.path()))
      texts.insert(UnquoteMboxrd(record.text));
  }
  return stored;
}

std::vector<fs::path> FindMailboxes(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == ".mbox") found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::size_t RecordCount(const Holdings& holdings) {
  std::size_t count = 0;
  for (const auto& [name, texts] : holdings) count += texts.size();
  return count;
}

void ExpectEveryMessageOnce(const fs::path& source, const fs::path& destination) {
  const Holdings expected = ExpectedHoldings(source, destination);
  const Holdings stored = StoredHoldings(destination);
  std::set<std::string> names;
  for (const auto& [name, texts] : expected) names.insert(name);
  for (const auto& [name, texts] : stored) names.insert(name);
  for (const std::string& name : names) {
    const auto want = expected.find(name);
    const auto have = stored.find(name);
    // An empty mailbox left by a conversion that was taken back holds no
    // message, as none was expected there.
    const std::size_t wanted = want == expected.end() ? 0 : want->second.size();
    ASSERT_NE(have, stored.end()) << "missing mailbox " << name;
    EXPECT_EQ(have->second.size(), wanted) << name;
    if (want != expected.end()) {
      EXPECT_TRUE(have->second == want->second) << "records differ in " << name;
    }
  }
}

}  // namespace quillfen::test
