// The child runner on Windows: CreateProcess, suspended until the child is
// in a job object of its own.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ChildRunner.h"
#include "SteadyClock.h"
#include "WideText.h"

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
    if (text.size() > 4 * static_cast<size_t>(ChildRunner::MAX_OUTPUT)) text = ChildRunner::Tail(text);
  }
  // Line breaks as "\n" alone (a child writes "\r\n" in text mode).
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') lines += text[i];
  }
  return ChildRunner::Tail(lines);
}

// Each child runs in a job object of its own, which ends whatever the child
// started when the child ends, and, since it is closed with this process
// however that ends, when this process ends. The jobs running now, for the
// console handler (0 for a free slot).
constexpr size_t MAX_LISTED = 256;
std::atomic<uintptr_t> g_jobs[MAX_LISTED];

void List(HANDLE job) {
  for (std::atomic<uintptr_t>& slot : g_jobs) {
    uintptr_t free = 0;
    if (slot.compare_exchange_strong(free, reinterpret_cast<uintptr_t>(job))) return;
  }
}

void Unlist(HANDLE job) {
  for (std::atomic<uintptr_t>& slot : g_jobs) {
    uintptr_t listed = reinterpret_cast<uintptr_t>(job);
    if (slot.compare_exchange_strong(listed, 0)) return;
  }
}

HANDLE NewJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

void EndChildrenAndExit(int signal) {
  for (std::atomic<uintptr_t>& slot : g_jobs) {
    const uintptr_t job = slot.load();
    if (job != 0) TerminateJobObject(reinterpret_cast<HANDLE>(job), 1);
  }
  _exit(128 + signal);
}

bool WriteAll(HANDLE file, const std::string& text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size() && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
}

}  // namespace

bool ChildRunner::Start(const std::vector<std::string>& command, double timeout_seconds,
                        ChildRequest request) {
  m_program = command.empty() ? "" : command[0];
  m_timeout = timeout_seconds;
  m_out = TempFile();
  m_err = TempFile();
  m_calls = TempFile();
  const bool requested = !request.args.empty();
  HANDLE request_file = requested ? TempFile() : nullptr;
  for (void** handle : {&m_out, &m_err, &m_calls, &request_file}) {
    if (*handle == INVALID_HANDLE_VALUE) *handle = nullptr;
  }
  // The results pipe: the child inherits the end it writes, never the other.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE results_end = nullptr;
  if (!CreatePipe(&m_results, &results_end, &inherit, 1 << 20)) m_results = results_end = nullptr;
  if (m_results != nullptr) SetHandleInformation(m_results, HANDLE_FLAG_INHERIT, 0);
  const auto close_child_ends = [&] {
    for (HANDLE handle : {results_end, request_file}) {
      if (handle != nullptr) CloseHandle(handle);
    }
  };
  std::vector<std::string> full = command;
  if (requested) {
    full.push_back(ChildRequest::OPTION);
    full.push_back(std::to_string(reinterpret_cast<uintptr_t>(request_file)));
    request.results = std::to_string(reinterpret_cast<uintptr_t>(results_end));
    request.calls = std::to_string(reinterpret_cast<uintptr_t>(m_calls));
  }
  if (m_out == nullptr || m_err == nullptr || m_calls == nullptr || m_results == nullptr ||
      (requested && (request_file == nullptr || !WriteAll(request_file, request.Encode())))) {
    m_error = "cannot create a temporary file or a pipe";
    close_child_ends();
    return false;
  }
  std::wstring line;
  for (const std::string& arg : full) line += (line.empty() ? L"" : L" ") + Quote(WideText::FromUtf8(arg));
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
    m_start = SteadyClock::now();
    // Suspended until it is in its job, so nothing it starts escapes it.
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                       &startup, &process)) {
      failure = 0;
      break;
    }
    failure = GetLastError();
    if (!IsPassingStartFailure(failure)) break;
  }
  SetErrorMode(old_mode);
  // The child holds the write end and the request now.
  close_child_ends();
  if (failure != 0) {
    m_error = "cannot start " + m_program + " (error " + std::to_string(failure) + ")";
    return false;
  }
  m_job = NewJob();
  if (m_job != nullptr) {
    List(m_job);
    AssignProcessToJobObject(m_job, process.hProcess);
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  m_process = process.hProcess;
  m_running = true;
  return true;
}

void ChildRunner::Drain() {
  if (m_results == nullptr) return;
  char buffer[65536];
  DWORD available = 0;
  while (PeekNamedPipe(m_results, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD got = 0;
    if (!ReadFile(m_results, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ||
        got == 0)
      return;
    Keep(buffer, got);
  }
}

bool ChildRunner::Poll(Outcome* outcome) {
  *outcome = Outcome{};
  if (!m_running) {
    outcome->error = m_error;
    return true;
  }
  Drain();
  const bool late = SecondsSince(m_start) > m_timeout;
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
  Forget();
  outcome->seconds = SecondsSince(m_start);
  Collect(outcome);
  return true;
}

void ChildRunner::Forget() {
  // What the child started ends with it.
  if (m_job != nullptr) {
    TerminateJobObject(m_job, 1);
    Unlist(m_job);
    CloseHandle(m_job);
    m_job = nullptr;
  }
  if (m_process != nullptr) CloseHandle(m_process);
  m_process = nullptr;
  m_running = false;
}

void ChildRunner::Collect(Outcome* outcome) {
  Drain();
  outcome->report = m_report;
  outcome->report_cut = m_report_cut;
  if (m_out != nullptr) outcome->out = ReadAll(m_out);
  if (m_err != nullptr) outcome->err = ReadAll(m_err);
  if (m_calls != nullptr) outcome->calls = ReadAll(m_calls);
}

ChildRunner::~ChildRunner() {
  if (m_running) {
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, INFINITE);
    Forget();
  }
  for (void* handle : {m_out, m_err, m_calls, m_results}) {
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

bool ChildRunner::AdoptsEscapedProcesses() { return true; }

void ChildRunner::EndChildrenOnSignals() {
  std::signal(SIGINT, &EndChildrenAndExit);
  std::signal(SIGTERM, &EndChildrenAndExit);
}

void ChildRunner::EndWithParent() {}
