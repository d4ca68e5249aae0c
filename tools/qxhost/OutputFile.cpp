#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "FilePath.h"

namespace {

// The temporary file's path for the signal handlers: a fixed buffer, since a
// handler may not allocate.
char g_temporary[4096];
std::atomic<bool> g_armed{false};

const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];
struct sigaction g_previous[SIGNAL_COUNT];

int Slot(int signal) {
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
    if (SIGNALS[i] == signal) return i;
  }
  return -1;
}

// Removes the temporary file, then lets the signal do what it did before:
// the previous handler, or the default action (for a fault, returning
// faults again at the same instruction, now with the previous handler; a
// signal that was sent, abort's too, is sent again).
void OnSignal(int signal) {
  if (g_armed.exchange(false)) unlink(g_temporary);
  const int slot = Slot(signal);
  if (slot >= 0) sigaction(signal, &g_previous[slot], nullptr);
  if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP || signal == SIGABRT) raise(signal);
}

void Arm(const std::string& path) {
  std::snprintf(g_temporary, sizeof g_temporary, "%s", path.c_str());
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < SIGNAL_COUNT; ++i) sigaction(SIGNALS[i], &action, &g_previous[i]);
  g_armed = true;
}

void Disarm() {
  if (!g_armed.exchange(false)) return;
  for (int i = 0; i < SIGNAL_COUNT; ++i) sigaction(SIGNALS[i], &g_previous[i], nullptr);
}

std::string Reason() { return std::strerror(errno); }

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const std::string& destination, std::string* error) {
  Discard();
  m_destination = FilePath::Resolved(destination);
  // A device or a pipe is written as it is: there is no file to replace.
  struct stat existing {};
  if (stat(m_destination.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    m_descriptor = open(m_destination.c_str(), O_WRONLY | O_CLOEXEC);
    if (m_descriptor < 0) *error = Reason();
    return m_descriptor >= 0;
  }
  const size_t slash = m_destination.rfind('/');
  const std::string folder = m_destination.substr(0, slash + 1);
  std::string pattern = folder + "." + m_destination.substr(slash + 1) + ".qxhost-XXXXXX";
  if (pattern.size() >= sizeof g_temporary) {
    *error = "the path is too long";
    return false;
  }
  m_descriptor = mkstemp(pattern.data());
  if (m_descriptor < 0) {
    *error = Reason();
    return false;
  }
  m_temporary = pattern;
  Arm(m_temporary);
  return true;
}

bool OutputFile::Commit(std::string* error) {
  if (m_temporary.empty()) {
    const bool closed = m_descriptor >= 0 && close(m_descriptor) == 0;
    m_descriptor = -1;
    if (!closed) *error = Reason();
    return closed;
  }
  // The mode of a new file (what the mask leaves of 0666), or the one the
  // destination has.
  const mode_t mask = umask(0);
  umask(mask);
  mode_t mode = 0666 & ~mask;
  struct stat existing {};
  if (stat(m_destination.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  bool done = fchmod(m_descriptor, mode) == 0 && fsync(m_descriptor) == 0;
  if (done) {
    done = close(m_descriptor) == 0;
    m_descriptor = -1;
  }
  if (done) done = rename(m_temporary.c_str(), m_destination.c_str()) == 0;
  if (!done) {
    *error = Reason();
    Discard();
    return false;
  }
  Disarm();
  m_temporary.clear();
  return true;
}

void OutputFile::Discard() {
  if (m_descriptor >= 0) close(m_descriptor);
  m_descriptor = -1;
  if (!m_temporary.empty()) {
    Disarm();
    unlink(m_temporary.c_str());
    m_temporary.clear();
  }
}
