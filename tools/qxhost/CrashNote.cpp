#include "CrashNote.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "CrashStack.h"
#include "OpcodeNames.h"

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

// Text put together in a fixed buffer, as a signal handler may.
class Line {
 public:
  Line& operator<<(const char* text) {
    while (*text != '\0' && m_used < sizeof m_text) m_text[m_used++] = *text++;
    return *this;
  }
  Line& operator<<(long long number) {
    char digits[24];
    int count = 0;
    unsigned long long magnitude =
        number < 0 ? 0ULL - static_cast<unsigned long long>(number) : static_cast<unsigned long long>(number);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *this << "-";
    while (count > 0 && m_used < sizeof m_text) m_text[m_used++] = digits[--count];
    return *this;
  }
  void WriteTo(int descriptor) const {
    for (size_t done = 0; done < m_used;) {
      const ssize_t wrote = write(descriptor, m_text + done, m_used - done);
      if (wrote <= 0) return;
      done += static_cast<size_t>(wrote);
    }
  }

 private:
  char m_text[8192];
  size_t m_used = 0;
};

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
  Line line;
  const int slot = CrashSlot(signal);
  line << "qxhost: " << m_module.c_str() << ": the module crashed the process ("
       << (slot >= 0 ? CRASH_SIGNAL_NAMES[slot] : "a signal") << ")";
  const DspHost::InFlight call = m_host.CallInFlight();
  switch (call.entry) {
    case DspHost::Entry::PROCESS:
      line << " during process_entry (offset " << call.args[0] << ", count " << call.args[1] << ")";
      break;
    case DspHost::Entry::EVENT:
      line << " during event_entry (event type " << call.args[0] << ")";
      break;
    case DspHost::Entry::DISPATCH: {
      const char* name = OpcodeNames::Find(OpcodeFamily::DSP, call.args[0]);
      line << " during ";
      if (name != nullptr)
        line << name;
      else
        line << "dispatch_entry (opcode " << call.args[0] << ")";
      break;
    }
    case DspHost::Entry::NONE:
      break;
  }
  if (call.entry != DspHost::Entry::NONE)
    line << ", at sample " << static_cast<long long>(call.clock) << " of " << m_input.c_str();
  line << "; " << m_output.c_str() << " was not written\nqxhost: " << CrashStack::HEADER
       << " (a frame of the module reads FILE(+OFFSET): `addr2line -f -C -e FILE OFFSET` names it, and so "
          "does the command run under valgrind):\n";
  line.WriteTo(STDERR_FILENO);
  CrashStack::Write(STDERR_FILENO, context, 32);
}
