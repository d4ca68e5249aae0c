#include "CrashStack.h"

#include <csignal>
#include <cstring>

#ifdef __GLIBC__
#include <execinfo.h>
#include <ucontext.h>
#include <unistd.h>
#define QX_HAVE_BACKTRACE 1
#endif

#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <cstdio>
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

#elif defined(_WIN32)

namespace {

void WriteText(const char* text) {
  DWORD wrote = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &wrote, nullptr);
}

// One frame as glibc writes one: "FILE(+0xRVA) [0xADDRESS]".
void WriteFrame(uintptr_t address) {
  HMODULE module = nullptr;
  char path[MAX_PATH] = "?";
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(address), &module))
    GetModuleFileNameA(module, path, sizeof path);
  char line[MAX_PATH + 64];
  std::snprintf(line, sizeof line, "%s(+0x%llx) [0x%llx]\n", path,
                static_cast<unsigned long long>(address - reinterpret_cast<uintptr_t>(module)),
                static_cast<unsigned long long>(address));
  WriteText(line);
}

LONG WINAPI OnException(EXCEPTION_POINTERS* exception) {
  WriteText("qxhost: ");
  WriteText(CrashStack::HEADER);
  WriteText(" (a frame of the module reads FILE(+0xRVA), RVA its address less the module's base):\n");
  CrashStack::Write(2, exception->ContextRecord, 10);
  return EXCEPTION_CONTINUE_SEARCH;  // the process ends with the exception's code, as before
}

}  // namespace

void CrashStack::Prepare() {}

void CrashStack::Write(int /*descriptor*/, const void* context, int most) {
  CONTEXT frame = *static_cast<const CONTEXT*>(context);
#if defined(_M_X64) || defined(__x86_64__)
  // Unwound by the tables every x64 function carries; a function without one
  // (a leaf) returns through the address on top of its stack.
  for (int shown = 0; shown < most && frame.Rip != 0; ++shown) {
    WriteFrame(static_cast<uintptr_t>(frame.Rip));
    DWORD64 base = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(frame.Rip, &base, nullptr);
    if (function == nullptr) {
      frame.Rip = *reinterpret_cast<const DWORD64*>(frame.Rsp);
      frame.Rsp += 8;
      continue;
    }
    void* handler_data = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, frame.Rip, function, &frame, &handler_data, &establisher,
                     nullptr);
  }
#else
  // 32-bit code keeps no unwind tables and seldom a frame pointer: the frame
  // where the exception came only.
  if (most > 0) WriteFrame(static_cast<uintptr_t>(frame.Eip));
#endif
}

void CrashStack::WriteOnCrash() { SetUnhandledExceptionFilter(&OnException); }

#else

void CrashStack::Prepare() {}
void CrashStack::Write(int /*descriptor*/, const void* /*context*/, int /*most*/) {}
void CrashStack::WriteOnCrash() {}

#endif
