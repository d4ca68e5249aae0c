// The child runner on POSIX systems: posix_spawn into a process group of the
// child's own; on Linux this process is also a child subreaper, so what a
// child starts and lets go (a new session, another group) comes back to it
// and is ended with the child.
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ChildRunner.h"
#include "SteadyClock.h"
#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif
extern char** environ;

namespace {

// Tells a child started here who its parent is (see EndWithParent).
const char PARENT_VARIABLE[] = "QXHOST_PARENT_PID";

// A descriptor of this process numbered above a child's channels (so that
// placing one channel in the child never overwrites another), closed in
// every child that does not take it on purpose; `fd` itself is closed.
int Apart(int fd) {
  if (fd < 0) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

// An unlinked temporary file: gone when the last descriptor closes.
int TempFile() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qxhost-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd >= 0) unlink(path.c_str());
  return Apart(fd);
}

std::string ReadAll(int fd) {
  std::string text;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > 4 * static_cast<size_t>(ChildRunner::MAX_OUTPUT)) text = ChildRunner::Tail(text);
  }
  return ChildRunner::Tail(text);
}

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return lseek(fd, 0, SEEK_SET) == 0;
}

// The children running now, for the signal handler: process ids, 0 for a
// free slot. More children than slots run unlisted, which no run of the
// validator reaches (--jobs is at most 64).
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

bool Listed(long pid) {
  for (const std::atomic<long>& slot : g_children) {
    if (slot.load() == pid) return true;
  }
  return false;
}

void EndGroup(long pid) {
  kill(static_cast<pid_t>(-pid), SIGKILL);
  kill(static_cast<pid_t>(pid), SIGKILL);
}

#ifdef __linux__

// The whole number at `text`, or -1 if `text` holds anything else.
long Number(const char* text) {
  long value = 0;
  if (*text == '\0') return -1;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9' || value > 100000000L) return -1;
    value = value * 10 + (*text - '0');
  }
  return value;
}

// The parent of process `pid`, from /proc/PID/stat ("PID (NAME) STATE PPID
// ..."; the name may hold anything, so the last ')' ends it); -1 if unknown.
// Signal-safe: system calls and the stack only.
long ParentOf(const char* pid) {
  char path[64] = "/proc/";
  size_t length = 6;
  for (const char* c = pid; *c != '\0' && length < 50; ++c) path[length++] = *c;
  std::memcpy(path + length, "/stat", 6);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char stat[1024];
  const ssize_t got = read(fd, stat, sizeof stat - 1);
  close(fd);
  if (got <= 0) return -1;
  stat[got] = '\0';
  const char* close_paren = std::strrchr(stat, ')');
  if (close_paren == nullptr || close_paren[1] != ' ' || close_paren[2] == '\0' || close_paren[3] != ' ')
    return -1;
  long parent = 0;
  for (const char* c = close_paren + 4; *c >= '0' && *c <= '9'; ++c) parent = parent * 10 + (*c - '0');
  return parent;
}

// Whether this process is a subreaper, so that orphans of its descendants
// come to it; read by the signal handler.
std::atomic<bool> g_adopts{false};

// Ends every process this one adopted as a subreaper (a descendant of a
// child that left the child's group), and what those started in turn, which
// come back to it as they are ended. Signal-safe: system calls and the stack.
void EndAdopted() {
  if (!g_adopts.load()) return;
  const long self = getpid();
  for (int round = 0; round < 1000; ++round) {
    const int dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    bool found = false;
    alignas(8) char entries[8192];
    for (;;) {
      const long got = syscall(SYS_getdents64, dir, entries, sizeof entries);
      if (got <= 0) break;
      // Each entry: inode (8 bytes), offset (8), its length (2), type (1), name.
      for (long at = 0; at < got;) {
        unsigned short size = 0;
        std::memcpy(&size, entries + at + 16, sizeof size);
        const char* name = entries + at + 19;
        at += size;
        const long pid = Number(name);
        if (pid <= 0 || pid == self || Listed(pid) || ParentOf(name) != self) continue;
        kill(static_cast<pid_t>(pid), SIGKILL);
        while (waitpid(static_cast<pid_t>(pid), nullptr, 0) < 0 && errno == EINTR) {
        }
        found = true;
      }
    }
    close(dir);
    if (!found) return;
  }
}

bool AdoptOrphans() {
  static const bool adopts = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  g_adopts.store(adopts);
  return adopts;
}

#else

void EndAdopted() {}
bool AdoptOrphans() { return false; }

#endif

// Held from a child's start until it is listed, and while adopted processes
// are ended, so that a child another thread is starting is never taken for
// an adopted process.
std::mutex g_starting;

void EndAdoptedNow() {
  const std::lock_guard<std::mutex> lock(g_starting);
  EndAdopted();
}

// A signal handler may be entered with a stack aligned to 4 bytes only (as
// qemu-i386 delivers signals), where the compiler's SSE code expects 16.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
void EndChildrenAndExit(int signal) {
  for (std::atomic<long>& slot : g_children) {
    const long pid = slot.load();
    if (pid > 0) EndGroup(pid);
  }
  for (std::atomic<long>& slot : g_children) {
    const long pid = slot.exchange(0);
    if (pid > 0) waitpid(static_cast<pid_t>(pid), nullptr, 0);
  }
  EndAdopted();
  _exit(128 + signal);
}

}  // namespace

bool ChildRunner::Start(const std::vector<std::string>& command, double timeout_seconds,
                        ChildRequest request) {
  m_program = command.empty() ? "" : command[0];
  m_timeout = timeout_seconds;
  AdoptOrphans();
  std::vector<std::string> full = command;
  const bool requested = !request.args.empty();
  if (requested) {
    full.push_back(ChildRequest::OPTION);
    full.push_back(std::to_string(REQUEST_FD));
    request.results = std::to_string(RESULTS_FD);
    request.calls = std::to_string(CALLS_FD);
  }
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
  m_calls = TempFile();
  int pipe_ends[2] = {-1, -1};
  if (pipe(pipe_ends) != 0) {
    m_error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  m_results = Apart(pipe_ends[0]);
  const int results_end = Apart(pipe_ends[1]);
  if (m_results >= 0) fcntl(m_results, F_SETFL, O_NONBLOCK);
  const int request_file = requested ? TempFile() : -1;
  const auto close_child_ends = [&] {
    if (results_end >= 0) close(results_end);
    if (request_file >= 0) close(request_file);
  };
  if (m_out < 0 || m_err < 0 || m_calls < 0 || m_results < 0 || results_end < 0 ||
      (requested && (request_file < 0 || !WriteAll(request_file, request.Encode())))) {
    m_error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    close_child_ends();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, m_out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, m_err, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, results_end, RESULTS_FD);
  posix_spawn_file_actions_adddup2(&actions, m_calls, CALLS_FD);
  if (requested) posix_spawn_file_actions_adddup2(&actions, request_file, REQUEST_FD);
  // Its own process group, so a time-out also ends whatever the module started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  m_start = SteadyClock::now();
  pid_t pid = -1;
  std::unique_lock<std::mutex> starting(g_starting);
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  if (spawned == 0) List(pid);
  starting.unlock();
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  // The child holds the write end and the request now: this process's
  // copies would keep the pipe open and the request readable.
  close_child_ends();
  if (spawned != 0) {
    m_error = "cannot start " + m_program + ": " + std::strerror(spawned);
    return false;
  }
  m_pid = pid;
  m_running = true;
  return true;
}

void ChildRunner::Drain() {
  if (m_results < 0) return;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(m_results, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    Keep(buffer, static_cast<size_t>(got));
  }
}

bool ChildRunner::Poll(Outcome* outcome) {
  *outcome = Outcome{};
  if (!m_running) {
    outcome->error = m_error;
    return true;
  }
  Drain();
  // Seen ended but not yet reaped: its process id, and so its group's, stays
  // reserved while what it started is ended with it.
  siginfo_t info{};
  int waited = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
  while (waited < 0 && errno == EINTR)
    waited = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
  const bool ended = waited == 0 && info.si_pid == m_pid;
  if (!ended && SecondsSince(m_start) <= m_timeout) return false;
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
  EndAdoptedNow();
  outcome->seconds = SecondsSince(m_start);
  Collect(outcome);
  return true;
}

void ChildRunner::Forget() {
  Unlist(m_pid);
  m_running = false;
}

void ChildRunner::Collect(Outcome* outcome) {
  Drain();
  outcome->report = m_report;
  outcome->report_cut = m_report_cut;
  if (m_out >= 0) outcome->out = ReadAll(m_out);
  if (m_err >= 0) outcome->err = ReadAll(m_err);
  if (m_calls >= 0) outcome->calls = ReadAll(m_calls);
}

ChildRunner::~ChildRunner() {
  if (m_running) {
    EndGroup(m_pid);
    int status = 0;
    waitpid(m_pid, &status, 0);
    Forget();
    EndAdoptedNow();
  }
  for (const int fd : {m_out, m_err, m_calls, m_results}) {
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

bool ChildRunner::AdoptsEscapedProcesses() { return AdoptOrphans(); }

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
