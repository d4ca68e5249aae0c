#include "ChildRunner.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "WideText.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
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

// The command with the report channel's number in place of its placeholder.
std::vector<std::string> WithChannel(std::vector<std::string> command, const std::string& channel) {
  for (std::string& arg : command) {
    if (arg == ChildRunner::REPORT_CHANNEL) arg = channel;
  }
  return command;
}

// Tells a child started here who its parent is (see EndWithParent).
const char PARENT_VARIABLE[] = "QXHOST_PARENT_PID";

}  // namespace

std::string ChildRunner::Headline(const std::string& output) {
  static const char* const MARKERS[] = {"Assertion failed", "ERROR: AddressSanitizer", "runtime error",
                                        "terminate called", "AddressSanitizer",        "Sanitizer"};
  for (const char* marker : MARKERS) {
    const size_t at = output.find(marker);
    if (at == std::string::npos) continue;
    const size_t start = output.rfind('\n', at);
    const size_t begin = start == std::string::npos ? 0 : start + 1;
    const size_t end = output.find('\n', at);
    return output.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  }
  return "";
}

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
  if (GetTempPathW(MAX_PATH, dir) == 0 || GetTempFileNameW(dir, L"qxv", 0, path) == 0)
    return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
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
  // Line breaks as "\n" alone (a child writes "\r\n" in text mode).
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') lines += text[i];
  }
  return Tail(lines);
}

// Every child joins this job: when this process ends, however it ends, the
// system closes the job's last handle and ends the children with it.
HANDLE Job() {
  static const HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    if (created == nullptr) return created;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return created;
  }();
  return job;
}

void EndChildrenAndExit(int signal) {
  if (Job() != nullptr) TerminateJobObject(Job(), 1);
  _exit(128 + signal);
}

}  // namespace

bool ChildRunner::Start(const std::vector<std::string>& command, double timeout_seconds) {
  m_program = command.empty() ? "" : command[0];
  m_timeout = timeout_seconds;
  m_out = TempFile();
  m_err = TempFile();
  m_report = TempFile();
  for (void** handle : {&m_out, &m_err, &m_report}) {
    if (*handle == INVALID_HANDLE_VALUE) *handle = nullptr;
  }
  if (m_out == nullptr || m_err == nullptr || m_report == nullptr) {
    m_error = "cannot create a temporary file";
    return false;
  }
  std::wstring line;
  for (const std::string& arg : WithChannel(command, std::to_string(reinterpret_cast<uintptr_t>(m_report))))
    line += (line.empty() ? L"" : L" ") + Quote(WideText::FromUtf8(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = m_out;
  startup.hStdError = m_err;
  PROCESS_INFORMATION process{};
  // No error dialog box for a crashing child.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  DWORD failure = 0;
  for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250 * attempt));
    m_start = Clock::now();
    // Suspended until it is in the job, so nothing it starts escapes it.
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                       &startup, &process)) {
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
  if (Job() != nullptr) AssignProcessToJobObject(Job(), process.hProcess);
  ResumeThread(process.hThread);
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
  if (m_report != nullptr) outcome->report = ReadAll(m_report);
}

ChildRunner::~ChildRunner() {
  if (m_running) {
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, INFINITE);
    CloseHandle(m_process);
  }
  for (void* handle : {m_out, m_err, m_report}) {
    if (handle != nullptr) CloseHandle(handle);
  }
}

std::string ChildRunner::SelfPath() {
  wchar_t path[32768];
  const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
  return WideText::ToUtf8(path, length);
}

std::string ChildRunner::SignalName(long code) {
  char text[48];
  switch (static_cast<unsigned long>(code)) {
    case 0xC0000005u:
      return "access violation (0xC0000005)";
    case 0xC00000FDu:
      return "stack overflow (0xC00000FD)";
    case 0xC0000094u:
      return "integer division by zero (0xC0000094)";
    case 0xC000001Du:
      return "illegal instruction (0xC000001D)";
    case 0xC0000409u:
      return "stack buffer overrun or fail-fast (0xC0000409)";
    default:
      std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(code));
      return text;
  }
}

void ChildRunner::EndChildrenOnSignals() {
  Job();
  std::signal(SIGINT, &EndChildrenAndExit);
  std::signal(SIGTERM, &EndChildrenAndExit);
}

void ChildRunner::EndWithParent() {}

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

// The children running now, for the signal handler: process ids (POSIX), 0
// for a free slot. More children than slots run unlisted, which no run of
// the validator reaches (--jobs is at most 64).
constexpr size_t MAX_LISTED = 256;
std::atomic<long> g_children[MAX_LISTED];

void List(long pid) {
  for (std::atomic<long>& slot : g_children) {
    long free = 0;
    if (slot.compare_exchange_strong(free, pid)) return;
  }
}

void Unlist(long pid) {
  for (std::atomic<long>& slot : g_children) {
    long listed = pid;
    if (slot.compare_exchange_strong(listed, 0)) return;
  }
}

// The child's report channel: this descriptor number in the child.
constexpr int REPORT_FD = 3;

void EndGroup(long pid) {
  kill(static_cast<pid_t>(-pid), SIGKILL);
  kill(static_cast<pid_t>(pid), SIGKILL);
}

void EndChildrenAndExit(int signal) {
  for (std::atomic<long>& slot : g_children) {
    const long pid = slot.load();
    if (pid > 0) EndGroup(pid);
  }
  _exit(128 + signal);
}

}  // namespace

bool ChildRunner::Start(const std::vector<std::string>& command, double timeout_seconds) {
  m_program = command.empty() ? "" : command[0];
  m_timeout = timeout_seconds;
  const std::vector<std::string> full = WithChannel(command, std::to_string(REPORT_FD));
  std::vector<char*> argv;
  argv.reserve(full.size() + 1);
  for (const std::string& arg : full) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  // The environment with this process named as the child's parent.
  const std::string parent = std::string(PARENT_VARIABLE) + "=" + std::to_string(getpid());
  std::vector<char*> envp;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, PARENT_VARIABLE, sizeof PARENT_VARIABLE - 1) != 0 ||
        (*variable)[sizeof PARENT_VARIABLE - 1] != '=')
      envp.push_back(*variable);
  }
  envp.push_back(const_cast<char*>(parent.c_str()));
  envp.push_back(nullptr);

  m_out = TempFile();
  m_err = TempFile();
  m_report = TempFile();
  if (m_out < 0 || m_err < 0 || m_report < 0) {
    m_error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, m_out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, m_err, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, m_report, REPORT_FD);
  // Its own process group, so a time-out also ends whatever the module started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  m_start = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    m_error = "cannot start " + m_program + ": " + std::strerror(spawned);
    return false;
  }
  m_pid = pid;
  List(pid);
  m_running = true;
  return true;
}

bool ChildRunner::Poll(Outcome* outcome) {
  *outcome = Outcome{};
  if (!m_running) {
    outcome->error = m_error;
    return true;
  }
  // Seen ended but not yet reaped: its process id, and so its group's, stays
  // reserved while what it started is ended with it.
  siginfo_t info{};
  int waited = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
  while (waited < 0 && errno == EINTR)
    waited = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
  const bool ended = waited == 0 && info.si_pid == m_pid;
  if (!ended && Since(m_start) <= m_timeout) return false;
  EndGroup(m_pid);
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended) {
    outcome->end = End::TIMED_OUT;
  } else if (WIFSIGNALED(status)) {
    outcome->end = End::SIGNALLED;
    outcome->code = WTERMSIG(status);
  } else {
    outcome->end = End::EXITED;
    outcome->code = WEXITSTATUS(status);
  }
  Forget();
  outcome->seconds = Since(m_start);
  Collect(outcome);
  return true;
}

void ChildRunner::Forget() {
  Unlist(m_pid);
  m_running = false;
}

void ChildRunner::Collect(Outcome* outcome) {
  if (m_out >= 0) outcome->out = ReadAll(m_out);
  if (m_err >= 0) outcome->err = ReadAll(m_err);
  if (m_report >= 0) outcome->report = ReadAll(m_report);
}

ChildRunner::~ChildRunner() {
  if (m_running) {
    EndGroup(m_pid);
    int status = 0;
    waitpid(m_pid, &status, 0);
    Forget();
  }
  for (const int fd : {m_out, m_err, m_report}) {
    if (fd >= 0) close(fd);
  }
}

std::string ChildRunner::SelfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "/proc/self/exe";
  return std::string(path, static_cast<size_t>(length));
}

std::string ChildRunner::SignalName(long code) {
  switch (code) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGABRT:
      return "SIGABRT";
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
    case SIGKILL:
      return "SIGKILL";
    case SIGTERM:
      return "SIGTERM";
    case SIGTRAP:
      return "SIGTRAP";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(code);
  }
}

void ChildRunner::EndChildrenOnSignals() {
  struct sigaction action {};
  action.sa_handler = &EndChildrenAndExit;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void ChildRunner::EndWithParent() {
  const char* parent = std::getenv(PARENT_VARIABLE);
  if (parent == nullptr) return;
  const long expected = std::strtol(parent, nullptr, 10);
  unsetenv(PARENT_VARIABLE);  // not for what this process starts in turn
#ifdef __linux__
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  // The parent may have died before the request took effect.
  if (getppid() != static_cast<pid_t>(expected)) _exit(128 + SIGKILL);
}

#endif
