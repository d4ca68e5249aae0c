#include "ChildRunner.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "WideText.h"
#else
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Keeps the tail: what a module printed last is what explains its end.
std::string Tail(std::string text) {
  if (text.size() > static_cast<size_t>(ChildRunner::MAX_OUTPUT))
    text.erase(0, text.size() - static_cast<size_t>(ChildRunner::MAX_OUTPUT));
  return text;
}

}  // namespace

std::vector<std::string> ChildRunner::Launcher() {
  std::vector<std::string> words;
  const char* launcher = std::getenv("QXHOST_CHILD_LAUNCHER");
  if (launcher == nullptr) return words;
  std::string word;
  for (const char* c = launcher;; ++c) {
    if (*c == ' ' || *c == '\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*c == '\0') break;
    } else {
      word += *c;
    }
  }
  return words;
}

ChildRunner::Outcome ChildRunner::Run(const std::vector<std::string>& command, double timeout_seconds) {
  ChildRunner child;
  child.Start(command, timeout_seconds);
  Outcome outcome;
  auto pause = std::chrono::microseconds(200);
  while (!child.Poll(&outcome)) {
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(10)) pause *= 2;
  }
  return outcome;
}

#ifdef _WIN32

namespace {

// Quotes one argument the way the C runtime splits a command line.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// A program that is missing, unreadable or no program at all will not start
// on a second try. Anything else (Wine answers ERROR_INTERNAL_ERROR now and
// then under load) may have been the system's passing trouble.
bool IsPassingStartFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_PARAMETER:
    case ERROR_FILENAME_EXCED_RANGE:
      return false;
    default:
      return true;
  }
}

// Starts of a child that failed for a passing reason are tried this often.
constexpr int START_ATTEMPTS = 4;

HANDLE TempFile() {
  wchar_t dir[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH, dir) == 0 || GetTempFileNameW(dir, L"qxv", 0, path) == 0) return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string ReadAll(HANDLE file) {
  std::string text;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
    if (text.size() > 4 * static_cast<size_t>(ChildRunner::MAX_OUTPUT)) text = Tail(text);
  }
  return Tail(text);
}

}  // namespace

bool ChildRunner::Start(const std::vector<std::string>& command, double timeout_seconds) {
  m_program = command.empty() ? "" : command[0];
  m_timeout = timeout_seconds;
  std::wstring line;
  for (const std::string& arg : command) line += (line.empty() ? L"" : L" ") + Quote(WideText::FromUtf8(arg));
  HANDLE out = TempFile();
  HANDLE err = TempFile();
  m_out = out == INVALID_HANDLE_VALUE ? nullptr : out;
  m_err = err == INVALID_HANDLE_VALUE ? nullptr : err;
  if (m_out == nullptr || m_err == nullptr) {
    m_error = "cannot create a temporary file";
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  // No error dialog box for a crashing child.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  DWORD failure = 0;
  for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250 * attempt));
    m_start = Clock::now();
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      failure = 0;
      break;
    }
    failure = GetLastError();
    if (!IsPassingStartFailure(failure)) break;
  }
  SetErrorMode(old_mode);
  if (failure != 0) {
    m_error = "cannot start " + m_program + " (error " + std::to_string(failure) + ")";
    return false;
  }
  CloseHandle(process.hThread);
  m_process = process.hProcess;
  m_running = true;
  return true;
}

bool ChildRunner::Poll(Outcome* outcome) {
  *outcome = Outcome{};
  if (!m_running) {
    outcome->error = m_error;
    return true;
  }
  const bool late = Since(m_start) > m_timeout;
  if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
    if (!late) return false;
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, INFINITE);
    outcome->end = End::TIMED_OUT;
  } else {
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    // Exception codes (0xC0000005 and the like) end a process that crashed.
    outcome->end = code >= 0xC0000000u ? End::SIGNALLED : End::EXITED;
    outcome->code = static_cast<long>(code);
  }
  m_running = false;
  outcome->seconds = Since(m_start);
  CloseHandle(m_process);
  m_process = nullptr;
  Collect(outcome);
  return true;
}

void ChildRunner::Collect(Outcome* outcome) {
  if (m_out != nullptr) outcome->out = ReadAll(m_out);
  if (m_err != nullptr) outcome->err = ReadAll(m_err);
}

ChildRunner::~ChildRunner() {
  if (m_running) {
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, INFINITE);
    CloseHandle(m_process);
  }
  if (m_out != nullptr) CloseHandle(m_out);
  if (m_err != nullptr) CloseHandle(m_err);
}

std::string ChildRunner::SelfPath() {
  wchar_t path[32768];
  const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
  return WideText::ToUtf8(path, length);
}

std::string ChildRunner::SignalName(long code) {
  char text[48];
  switch (static_cast<unsigned long>(code)) {
    case 0xC0000005u: return "access violation (0xC0000005)";
    case 0xC00000FDu: return "stack overflow (0xC00000FD)";
    case 0xC0000094u: return "integer division by zero (0xC0000094)";
    case 0xC000001Du: return "illegal instruction (0xC000001D)";
    case 0xC0000409u: return "stack buffer overrun or fail-fast (0xC0000409)";
    default: std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(code)); return text;
  }
}

#else

namespace {

// An unlinked temporary file: gone when the last descriptor closes.
int TempFile() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qxhost-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > 4 * static_cast<size_t>(ChildRunner::MAX_OUTPUT)) text = Tail(text);
  }
  return Tail(text);
}

}  // namespace

bool ChildRunner::Start(const std::vector<std::string>& command, double timeout_seconds) {
  m_program = command.empty() ? "" : command[0];
  m_timeout = timeout_seconds;
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  m_out = TempFile();
  m_err = TempFile();
  if (m_out < 0 || m_err < 0) {
    m_error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, m_out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, m_err, STDERR_FILENO);
  // Its own process group, so a time-out also ends whatever the module started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  m_start = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    m_error = "cannot start " + m_program + ": " + std::strerror(spawned);
    return false;
  }
  m_pid = pid;
  m_running = true;
  return true;
}

bool ChildRunner::Poll(Outcome* outcome) {
  *outcome = Outcome{};
  if (!m_running) {
    outcome->error = m_error;
    return true;
  }
  int status = 0;
  pid_t done = waitpid(m_pid, &status, WNOHANG);
  while (done < 0 && errno == EINTR) done = waitpid(m_pid, &status, WNOHANG);
  if (done == 0) {
    if (Since(m_start) <= m_timeout) return false;
    kill(-m_pid, SIGKILL);
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    outcome->end = End::TIMED_OUT;
  } else if (WIFSIGNALED(status)) {
    outcome->end = End::SIGNALLED;
    outcome->code = WTERMSIG(status);
  } else {
    outcome->end = End::EXITED;
    outcome->code = WEXITSTATUS(status);
  }
  m_running = false;
  outcome->seconds = Since(m_start);
  Collect(outcome);
  return true;
}

void ChildRunner::Collect(Outcome* outcome) {
  if (m_out >= 0) outcome->out = ReadAll(m_out);
  if (m_err >= 0) outcome->err = ReadAll(m_err);
}

ChildRunner::~ChildRunner() {
  if (m_running) {
    kill(-m_pid, SIGKILL);
    kill(m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
  }
  if (m_out >= 0) close(m_out);
  if (m_err >= 0) close(m_err);
}

std::string ChildRunner::SelfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "/proc/self/exe";
  return std::string(path, static_cast<size_t>(length));
}

std::string ChildRunner::SignalName(long code) {
  switch (code) {
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGKILL: return "SIGKILL";
    case SIGTERM: return "SIGTERM";
    case SIGTRAP: return "SIGTRAP";
    default: return "signal " + std::to_string(code);
  }
}

#endif
