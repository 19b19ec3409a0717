#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillfen::test {

// The built quillfen-cli, started as a child process with its output in
// files, so that a test can limit it, wait for it or kill it. On POSIX the
// child is forked and signalled; on Windows it is made with CreateProcessW and
// ended with TerminateProcess (cli_process_windows.cpp).
class CliProcess {
 public:
  // Starts quillfen-cli with args. With fileSizeLimit, no file the child
  // writes may grow past that many bytes, and the signal for going past it
  // is ignored, so the write fails instead (as on a full quota). With
  // openFilesLimit, the child may have no more files open at once (neither
  // limit exists on Windows, where asking for one throws std::logic_error).
  // built names another program of the build folder to start instead.
  explicit CliProcess(const std::vector<std::string>& args,
                      std::optional<std::size_t> fileSizeLimit = std::nullopt,
                      std::optional<std::size_t> openFilesLimit = std::nullopt,
                      const std::string& built = "quillfen-cli");
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Waits for the child; returns its wait status (see ExitStatus and
  // WasKilled).
  int Wait();
  // Whether the child has ended (reaping it when it has).
  bool Ended();
  // Ends the child at once, as SIGKILL does.
  void Kill();
  // Sends signal (POSIX only).
  void Signal(int signal);

  std::string out() const;
  std::string err() const;

 private:
  std::filesystem::path capture_;
  // A pid, or a process HANDLE on Windows; -1 before the child started.
  std::intptr_t child_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// What one run of quillfen-cli to its end gave.
struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs build/quillfen-cli with args in workingFolder, capturing its output.
// With onTerminal, its output goes through a pseudo-terminal (and out then
// holds both streams, as a terminal shows them; POSIX only).
CliResult RunCli(const std::vector<std::string>& args,
                 const std::filesystem::path& workingFolder = std::filesystem::current_path(),
                 bool onTerminal = false);

// The exit status of a wait status, or -1 when the child did not exit.
int ExitStatus(int waitStatus);
// Whether the child was killed (SIGKILL, or TerminateProcess with
// kKilledExitCode), by the runner or by itself.
bool WasKilled(int waitStatus);
// The wait status told in words, for a failing test's message.
std::string DescribeStatus(int waitStatus);

// The exit code a Windows program is given when it is killed, as a shell
// reports SIGKILL (128 + 9).
inline constexpr int kKilledExitCode = 137;

}  // namespace quillfen::test
