#include "CrashStack.h"

#include <csignal>
#include <cstring>

#ifdef __GLIBC__
#include <execinfo.h>
#include <ucontext.h>
#include <unistd.h>
#define QX_HAVE_BACKTRACE 1
#endif

#include "MemoryChecker.h"

#ifdef QX_HAVE_BACKTRACE

namespace {

const int STACK_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void WriteText(const char* text) {
  for (size_t done = 0, size = std::strlen(text); done < size;) {
    const ssize_t wrote = write(STDERR_FILENO, text + done, size - done);
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

void OnCrash(int signal, siginfo_t* /*info*/, void* context) {
  WriteText("qxhost: ");
  WriteText(CrashStack::HEADER);
  WriteText(" (a frame of the module reads FILE(+OFFSET): `addr2line -f -C -e FILE OFFSET` names it):\n");
  CrashStack::Write(STDERR_FILENO, context, 10);
  // The default action: a fault comes again at the same instruction, a
  // signal that was sent is sent again.
  std::signal(signal, SIG_DFL);
  if (signal == SIGABRT) raise(signal);
}

}  // namespace

void CrashStack::Prepare() {
  void* frames[4];
  backtrace(frames, 4);
}

void CrashStack::Write(int descriptor, const void* context, int most) {
  const void* at = nullptr;
#if defined(__x86_64__)
  at = reinterpret_cast<const void*>(static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  at = reinterpret_cast<const void*>(static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_EIP]);
#endif
  void* frames[64];
  const int count = backtrace(frames, 64);
  int first = 0;
  while (first < count && frames[first] != at) ++first;
  if (first == count) first = 0;
  const int shown = count - first < most ? count - first : most;
  if (shown > 0) backtrace_symbols_fd(frames + first, shown, descriptor);
}

void CrashStack::WriteOnCrash() {
  if (MemoryChecker::Sanitized()) return;
  Prepare();
  struct sigaction action {};
  action.sa_sigaction = &OnCrash;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (const int signal : STACK_SIGNALS) sigaction(signal, &action, nullptr);
}

#else

void CrashStack::Prepare() {}
void CrashStack::Write(int /*descriptor*/, const void* /*context*/, int /*most*/) {}
void CrashStack::WriteOnCrash() {}

#endif
