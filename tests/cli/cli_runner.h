#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillfen::test {

// What one run of the built quillfen-cli gave.
struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs build/quillfen-cli with args in workingFolder, capturing its output.
// With onTerminal, its output goes through a pseudo-terminal (and out then
// holds both streams, as a terminal shows them).
CliResult RunCli(const std::vector<std::string>& args,
                 const std::filesystem::path& workingFolder = std::filesystem::current_path(),
                 bool onTerminal = false);

}  // namespace quillfen::test
