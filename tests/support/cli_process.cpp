#include "tests/support/cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

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

CliProcess::CliProcess(const std::vector<std::string>& args,
                       std::optional<std::size_t> fileSizeLimit,
                       std::optional<std::size_t> openFilesLimit, const std::string& built) {
  char pattern[] = "/tmp/quillfen-cli-capture-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a capture folder");
  capture_ = pattern;
  const std::string program = std::string(QUILLFEN_BUILD_DIR) + "/" + built;
  const std::string outPath = (capture_ / "out").string();
  const std::string errPath = (capture_ / "err").string();

  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls are allowed.
  std::vector<std::string> argv{program, "--quiet"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot fork");
  child_ = pid;
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (fileSizeLimit) {
      // An ignored signal stays ignored across exec.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = *fileSizeLimit;
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (openFilesLimit) {
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = *openFilesLimit;
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    }
    execv(program.c_str(), pointers.data());
    _exit(127);
  }
}

CliProcess::~CliProcess() {
  if (child_ > 0 && !reaped_) {
    kill(static_cast<pid_t>(child_), SIGKILL);
    Wait();
  }
  std::error_code ignored;
  std::filesystem::remove_all(capture_, ignored);
}

int CliProcess::Wait() {
  while (!reaped_) {
    if (waitpid(static_cast<pid_t>(child_), &status_, 0) == child_) {
      reaped_ = true;
    } else if (errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    }
  }
  return status_;
}

bool CliProcess::Ended() {
  if (reaped_) return true;
  if (waitpid(static_cast<pid_t>(child_), &status_, WNOHANG) == child_) reaped_ = true;
  return reaped_;
}

void CliProcess::Kill() {
  Signal(SIGKILL);
}

void CliProcess::Signal(int signal) {
  if (!reaped_) kill(static_cast<pid_t>(child_), signal);
}

std::string CliProcess::out() const {
  return ReadFile(capture_ / "out");
}
std::string CliProcess::err() const {
  return ReadFile(capture_ / "err");
}

int ExitStatus(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

bool WasKilled(int waitStatus) {
  return WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGKILL;
}

std::string DescribeStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return "exit status " + std::to_string(WEXITSTATUS(waitStatus));
  if (WIFSIGNALED(waitStatus)) return "ended by signal " + std::to_string(WTERMSIG(waitStatus));
  return "wait status " + std::to_string(waitStatus);
}

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
