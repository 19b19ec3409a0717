#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillfen::test {

// The built quillfen-cli, started as a child process with its output in
// files, so that a test can limit it, wait for it or kill it.
class CliProcess {
 public:
  // Starts quillfen-cli with args. With fileSizeLimit, no file the child
  // writes may grow past that many bytes, and the signal for going past it
  // is ignored, so the write fails instead (as on a full quota). With
  // openFilesLimit, the child may have no more files open at once. built
  // names another program of the build folder to start instead.
  explicit CliProcess(const std::vector<std::string>& args,
                      std::optional<std::size_t> fileSizeLimit = std::nullopt,
                      std::optional<std::size_t> openFilesLimit = std::nullopt,
                      const std::string& built = "quillfen-cli");
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the child; returns its raw wait status.
  int Wait();
  // Whether the child has ended (reaping it when it has).
  bool Ended();
  void Kill();
  void Signal(int signal);

  std::string out() const;
  std::string err() const;

 private:
  std::filesystem::path capture_;
  pid_t pid_ = -1;
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
// holds both streams, as a terminal shows them).
CliResult RunCli(const std::vector<std::string>& args,
                 const std::filesystem::path& workingFolder = std::filesystem::current_path(),
                 bool onTerminal = false);

// The exit status of a wait status, or -1 when the child did not exit.
int ExitStatus(int waitStatus);

}  // namespace quillfen::test
