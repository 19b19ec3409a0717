// The program runner on Windows: the child is made with CreateProcessW, its
// output goes to files as on POSIX, and it is killed with TerminateProcess.

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "tests/support/cli_process.h"
#include "tests/support/temp_dir.h"

namespace quillfen::test {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
  return wide;
}

// One argument as the C runtime's parser reads it back: quoted when it is
// empty or holds blanks or quotes, a quote escaped with a backslash, and the
// backslashes before a quote (or before the closing quote) doubled.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// The folder the build's programs are in: the one above this test program
// (build/tests/), as the build folder's own path may be spelled for another
// system (a cross build names it as the build machine does).
std::filesystem::path BuildFolder() {
  std::wstring self(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  self.resize(length);
  return std::filesystem::path(self).parent_path().parent_path();
}

HANDLE InheritableFile(const std::filesystem::path& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE file = ::CreateFileW(
      path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
      &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + Utf8(path));
  return file;
}

// Starts program with args (UTF-8) in workingFolder (the current one when
// empty), its standard output and error in out and err; returns the
// process.
HANDLE Start(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& workingFolder, const std::filesystem::path& out,
             const std::filesystem::path& err) {
  std::wstring line = Quoted(program.wstring());
  for (const std::string& arg : args) line += L" " + Quoted(Wide(arg));

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableFile(L"NUL", false);
  startup.hStdOutput = InheritableFile(out, true);
  startup.hStdError = InheritableFile(err, true);
  PROCESS_INFORMATION process{};
  // A process group of its own, so that a console's break event can be
  // sent to the child alone.
  const BOOL started =
      ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr,
                       workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process);
  const DWORD error = ::GetLastError();
  ::CloseHandle(startup.hStdInput);
  ::CloseHandle(startup.hStdOutput);
  ::CloseHandle(startup.hStdError);
  if (!started)
    throw std::runtime_error("cannot start " + Utf8(program) + " (error " + std::to_string(error) +
                             ")");
  ::CloseHandle(process.hThread);
  return process.hProcess;
}

// What the program wrote, its line ends as written on POSIX: the C runtime
// writes standard output and error in text mode on Windows, each line feed
// as CR LF. A CR of the program's own never reaches them (the report
// escapes control characters in names).
std::string Output(const std::filesystem::path& file) {
  std::string text = ReadFile(file);
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

HANDLE Process(std::intptr_t child) {
  return reinterpret_cast<HANDLE>(child);
}

int ExitCode(HANDLE process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) throw std::runtime_error("no exit code");
  return static_cast<int>(code);
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args,
                       std::optional<std::size_t> fileSizeLimit,
                       std::optional<std::size_t> openFilesLimit, const std::string& built) {
  if (fileSizeLimit || openFilesLimit)
    throw std::logic_error("Windows limits neither a file's size nor the files a process opens");
  // A name of this process and a count: no other runner holds it.
  static std::atomic<int> made{0};
  capture_ = std::filesystem::temp_directory_path() /
             ("quillfen-cli-capture-" + std::to_string(::GetCurrentProcessId()) + "-" +
              std::to_string(made++));
  std::filesystem::create_directory(capture_);
  std::vector<std::string> argv{"--quiet"};
  argv.insert(argv.end(), args.begin(), args.end());
  child_ = reinterpret_cast<std::intptr_t>(
      Start(BuildFolder() / PathOf(built + ".exe"), argv, {}, capture_ / "out", capture_ / "err"));
}

CliProcess::~CliProcess() {
  if (child_ != -1) {
    if (!reaped_) {
      ::TerminateProcess(Process(child_), kKilledExitCode);
      ::WaitForSingleObject(Process(child_), INFINITE);
    }
    ::CloseHandle(Process(child_));
  }
  std::error_code ignored;
  std::filesystem::remove_all(capture_, ignored);
}

int CliProcess::Wait() {
  if (!reaped_) {
    if (::WaitForSingleObject(Process(child_), INFINITE) != WAIT_OBJECT_0)
      throw std::runtime_error("cannot wait for the child");
    status_ = ExitCode(Process(child_));
    reaped_ = true;
  }
  return status_;
}

bool CliProcess::Ended() {
  if (!reaped_ && ::WaitForSingleObject(Process(child_), 0) == WAIT_OBJECT_0) {
    status_ = ExitCode(Process(child_));
    reaped_ = true;
  }
  return reaped_;
}

void CliProcess::Kill() {
  if (!reaped_) ::TerminateProcess(Process(child_), kKilledExitCode);
}

void CliProcess::Signal(int signal) {
  throw std::logic_error("Windows has no signal " + std::to_string(signal));
}

std::string CliProcess::out() const {
  return Output(capture_ / "out");
}
std::string CliProcess::err() const {
  return Output(capture_ / "err");
}

// On Windows a wait status is the exit code itself.
int ExitStatus(int waitStatus) {
  return WasKilled(waitStatus) ? -1 : waitStatus;
}

bool WasKilled(int waitStatus) {
  return waitStatus == kKilledExitCode;
}

std::string DescribeStatus(int waitStatus) {
  return WasKilled(waitStatus) ? "killed" : "exit status " + std::to_string(waitStatus);
}

CliResult RunCli(const std::vector<std::string>& args, const std::filesystem::path& workingFolder,
                 bool onTerminal) {
  if (onTerminal) throw std::logic_error("no pseudo-terminal for a child on Windows");
  TempDir capture;
  const HANDLE process = Start(BuildFolder() / "quillfen-cli.exe", args, workingFolder,
                               capture.path() / "out", capture.path() / "err");
  ::WaitForSingleObject(process, INFINITE);
  CliResult result;
  result.status = ExitCode(process);
  ::CloseHandle(process);
  result.out = Output(capture.path() / "out");
  result.err = Output(capture.path() / "err");
  return result;
}

}  // namespace quillfen::test
