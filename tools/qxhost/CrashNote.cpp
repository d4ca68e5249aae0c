#include "CrashNote.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "CrashStack.h"
#include "FixedText.h"
#include "ModuleCall.h"

namespace {

const int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
const char* const CRASH_SIGNAL_NAMES[] = {"SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT"};
constexpr int CRASH_SIGNAL_COUNT = sizeof CRASH_SIGNALS / sizeof CRASH_SIGNALS[0];
struct sigaction g_before[CRASH_SIGNAL_COUNT];
std::atomic<const CrashNote*> g_note{nullptr};

int CrashSlot(int signal) {
  for (int i = 0; i < CRASH_SIGNAL_COUNT; ++i) {
    if (CRASH_SIGNALS[i] == signal) return i;
  }
  return -1;
}

}  // namespace

CrashNote::CrashNote(const DspHost& host, const std::string& module, const std::string& input,
                     const std::string& output)
    : m_host(host), m_module(module), m_input(input), m_output(output) {
  CrashStack::Prepare();
  struct sigaction action {};
  action.sa_sigaction = &CrashNote::OnSignal;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < CRASH_SIGNAL_COUNT; ++i) sigaction(CRASH_SIGNALS[i], &action, &g_before[i]);
  g_note = this;
}

CrashNote::~CrashNote() {
  if (g_note.exchange(nullptr) == nullptr) return;
  for (int i = 0; i < CRASH_SIGNAL_COUNT; ++i) sigaction(CRASH_SIGNALS[i], &g_before[i], nullptr);
}

void CrashNote::OnSignal(int signal, siginfo_t* /*info*/, void* context) {
  const CrashNote* note = g_note.exchange(nullptr);
  if (note != nullptr) note->Write(signal, context);
  const int slot = CrashSlot(signal);
  if (slot >= 0) sigaction(signal, &g_before[slot], nullptr);
  // A fault comes again at the same instruction, now to the handler before
  // this one; a signal that was sent is sent again.
  if (signal == SIGABRT) raise(signal);
}

void CrashNote::Write(int signal, const void* context) const {
  char buffer[8192];
  FixedText line(buffer, sizeof buffer);
  const int slot = CrashSlot(signal);
  line << "qxhost: " << m_module.c_str() << ": the module crashed the process ("
       << (slot >= 0 ? CRASH_SIGNAL_NAMES[slot] : "a signal") << ")";
  char call[256];
  ModuleCall::Describe(call, sizeof call);
  if (call[0] != '\0')
    line << " during " << call << ", at sample " << static_cast<long long>(m_host.Clock()) << " of "
         << m_input.c_str();
  line << "; " << m_output.c_str() << " was not written\nqxhost: " << CrashStack::HEADER
       << CrashStack::HOW_TO_READ << ":\n";
  CrashStack::WriteText(line.c_str());
  CrashStack::Write(STDERR_FILENO, context, 32);
}
