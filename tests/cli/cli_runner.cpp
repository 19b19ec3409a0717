#include "tests/cli/cli_runner.h"

#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace quillfen::test {
namespace {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace

CliResult RunCli(const std::vector<std::string>& args, const std::filesystem::path& workingFolder,
                 bool onTerminal) {
  TempDir capture;
  std::string command = ShellQuoted(std::string(QUILLFEN_BUILD_DIR) + "/quillfen-cli");
  for (const std::string& arg : args) command += " " + ShellQuoted(arg);
  if (onTerminal) {
    // script gives the program a pseudo-terminal and passes its status on.
    command = "script -qec " + ShellQuoted(command) + " /dev/null";
  }
  const std::string out = capture.str() + "out";
  const std::string err = capture.str() + "err";
  const std::string shell = "cd " + ShellQuoted(workingFolder.string()) + " && " + command +
                            " </dev/null >" + ShellQuoted(out) + " 2>" + ShellQuoted(err);

  CliResult result;
  const int raw = std::system(shell.c_str());
  if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

}  // namespace quillfen::test
