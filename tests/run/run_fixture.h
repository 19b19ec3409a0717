#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "tests/run/recording_host.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {

// A source tree and a destination in temporary folders, and a recording host
// whose chooser answers with the destination.
class RunTest : public ::testing::Test {
 protected:
  TempDir source;
  TempDir destination;
  RecordingHost host;
  ReaderState readers;

  void SetUp() override { host.chooserAnswers = {destination.str(), destination.str()}; }

  // A small message whose text names it, so records can be told apart.
  static std::string MessageText(const std::string& tag) {
    return "From: Ann <ann@example.org>\r\n"
           "To: bob@example.org\r\n"
           "Subject: " +
           tag +
           "\r\n"
           "Date: Tue, 05 Mar 2013 14:07:09 +0100\r\n"
           "\r\n"
           "Body of " +
           tag + ".\r\n";
  }

  // Writes a message below the source and returns its full name.
  std::string WriteMessage(const std::string& relative, const std::string& tag) {
    const std::string full = source.str() + relative;
    WriteFile(full, MessageText(tag));
    return full;
  }

  // The mailbox that the run writes for a source folder (a path relative to
  // the source, without a trailing separator): the folder's whole path
  // without its leading separator, below the destination.
  std::filesystem::path MailboxFor(const std::string& folder) const {
    const std::string sourceFolder = source.str() + folder;
    const std::string name = std::filesystem::path(sourceFolder).filename().string();
    return destination.str() + sourceFolder.substr(1) + "/" + name + ".mbox";
  }

  // The subjects of a mailbox's records, in order, after checking that each
  // record is a whole message as written.
  static std::vector<std::string> Tags(const std::filesystem::path& mbox) {
    std::vector<std::string> tags;
    for (const StoredRecord& record : ReadMbox(mbox)) {
      const std::string text = UnquoteMboxrd(record.text);
      const auto start = text.find("Subject: ");
      const auto end = text.find("\r\n", start);
      EXPECT_NE(start, std::string::npos);
      std::string tag = text.substr(start + 9, end - start - 9);
      EXPECT_EQ(text, MessageText(tag));
      tags.push_back(tag);
    }
    return tags;
  }

  RunReport Run() { return ConversionRun(host, readers, PathStyle::Posix()); }
};

}  // namespace quillfen::test
