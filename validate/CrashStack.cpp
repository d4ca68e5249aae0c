#include "CrashStack.h"

#include <csignal>
#include <cstring>

#ifdef __GLIBC__
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#define QX_HAVE_BACKTRACE 1
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QX_SANITIZER_DEATH_CALLBACK 1
#endif
// GCC's libbacktrace (with GCC, not with every compiler that reads this file):
// the source file and line of a frame, from the file's DWARF.
#if defined(QX_HAVE_LIBBACKTRACE) && __has_include(<backtrace.h>)
#include <backtrace.h>
#define QX_SOURCE_LINES 1
#endif
#endif

#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#endif

#include "FixedText.h"
#include "LineTable.h"
#include "MemoryChecker.h"
#include "ModuleCall.h"
#include "SymbolTable.h"
#include "UnwindTable.h"

#ifdef QX_HAVE_BACKTRACE
namespace {
void WriteTo(int descriptor, const char* text) {
  for (size_t done = 0, size = std::strlen(text); done < size;) {
    const ssize_t wrote = write(descriptor, text + done, size - done);
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}
}  // namespace
void CrashStack::WriteText(const char* text) { WriteTo(STDERR_FILENO, text); }
#elif defined(_WIN32)
void CrashStack::WriteText(const char* text) {
  DWORD wrote = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &wrote, nullptr);
}
#else
void CrashStack::WriteText(const char* /*text*/) {}
#endif

#if defined(QX_HAVE_BACKTRACE) || defined(_WIN32)

namespace {

int g_what = 0;                     // WriteOnCrash's
volatile sig_atomic_t g_named = 0;  // the call in flight was written

// What WriteOnCrash asked for but the frames: the call in flight, and the
// frames' header, ended by `end` (none where null).
void WriteNotes(const char* end) {
  if ((g_what & CrashStack::NAME_CALL) != 0 && g_named == 0) {
    char call[256];
    ModuleCall::Describe(call, sizeof call);
    if (call[0] != '\0') {
      g_named = 1;
      char buffer[512];
      FixedText line(buffer, sizeof buffer);
      line << "qxhost: " << CrashStack::CALL << ": " << call << "\n";
      CrashStack::WriteText(line.c_str());
    }
  }
  if ((g_what & CrashStack::SHOW_STACK) != 0 && end != nullptr) {
    char buffer[512];
    FixedText line(buffer, sizeof buffer);
    line << "qxhost: " << CrashStack::HEADER << CrashStack::HOW_TO_READ << end;
    CrashStack::WriteText(line.c_str());
  }
}

}  // namespace

#endif

#ifdef QX_HAVE_BACKTRACE

namespace {

const int STACK_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int STACK_SIGNAL_COUNT = sizeof STACK_SIGNALS / sizeof STACK_SIGNALS[0];
struct sigaction g_before[STACK_SIGNAL_COUNT];

#ifdef QX_SOURCE_LINES
backtrace_state* g_sources = nullptr;  // made by Prepare; it reads a file's DWARF when first asked

void NoSource(void* /*data*/, const char* /*message*/, int /*number*/) {}

int OnSource(void* data, uintptr_t /*pc*/, const char* file, int line, const char* /*function*/) {
  if (file == nullptr || line <= 0) return 0;
  *static_cast<FixedText*>(data) << file << ":" << static_cast<long long>(line) << ": ";
  return 1;  // the innermost place: that of a call inlined there, where one was
}
#endif

// "SOURCE:LINE: " of the code at `pc`, where its file's debug information has
// it, on `descriptor`. `returned`: pc is where a call returns to, and the call
// is what is looked up.
void WriteSource(int descriptor, uintptr_t pc, bool returned) {
#ifdef QX_SOURCE_LINES
  if (g_sources == nullptr) return;
  char buffer[512];
  FixedText source(buffer, sizeof buffer);
  backtrace_pcinfo(g_sources, pc - (returned ? 1 : 0), &OnSource, &NoSource, &source);
  WriteTo(descriptor, source.c_str());
#else
  (void)descriptor;
  (void)pc;
  (void)returned;
#endif
}

// A frame as glibc writes one, FILE(FUNCTION+OFFSET)[ADDRESS], with the name
// from the file's full symbol table where glibc finds none (the module's own
// functions, which it does not export), after SOURCE:LINE where known.
void WriteFrame(int descriptor, void* frame, bool returned) {
  WriteSource(descriptor, reinterpret_cast<uintptr_t>(frame), returned);
  Dl_info info{};
  char path[512];
  char name[256];
  uintptr_t address = 0;
  uintptr_t start = 0;
  if (dladdr(frame, &info) != 0 && info.dli_sname == nullptr &&
      SymbolTable::Locate(frame, path, sizeof path, &address) &&
      SymbolTable::FunctionAt(path, address, name, sizeof name, &start)) {
    char buffer[1024];
    FixedText line(buffer, sizeof buffer);
    line << path << "(" << name << "+";
    line.Hex(address - start) << ")[";
    line.Hex(reinterpret_cast<uintptr_t>(frame)) << "]\n";
    WriteTo(descriptor, line.c_str());
    return;
  }
  backtrace_symbols_fd(&frame, 1, descriptor);
}

void OnCrash(int signal, siginfo_t* /*info*/, void* context) {
  WriteNotes(":\n");
  if ((g_what & CrashStack::SHOW_STACK) != 0) CrashStack::Write(STDERR_FILENO, context, 10);
  // The handler before this one: a fault comes again at the same
  // instruction, a signal that was sent is sent again.
  for (int i = 0; i < STACK_SIGNAL_COUNT; ++i) {
    if (STACK_SIGNALS[i] == signal) sigaction(signal, &g_before[i], nullptr);
  }
  if (signal == SIGABRT) raise(signal);
}

#ifdef QX_SANITIZER_DEATH_CALLBACK
// A sanitizer ends a process that breaks its rules itself, after its report.
void OnSanitizerDeath() { WriteNotes(nullptr); }

// Each sanitizer's runtime library keeps a death callback of its own (the
// address and undefined-behaviour ones are two libraries): set it in each.
int SetDeathCallback(dl_phdr_info* info, size_t /*size*/, void* /*data*/) {
  if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, "san") == nullptr) return 0;
  void* library = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return 0;
  using SetCallback = void (*)(void (*)());
  void* set = dlsym(library, "__sanitizer_set_death_callback");
  if (set != nullptr) reinterpret_cast<SetCallback>(set)(&OnSanitizerDeath);
  dlclose(library);
  return 0;
}
#endif

}  // namespace

const char* const CrashStack::HOW_TO_READ =
    " (a frame reads FILE(FUNCTION+OFFSET)[ADDRESS], FUNCTION as the file's symbol table names it, which "
    "`c++filt` reads, after SOURCE:LINE: where the file's debug information has it; where the file names "
    "none, FILE(+OFFSET)[ADDRESS], and `addr2line -f -C -e FILE OFFSET` may name it)";

void CrashStack::Prepare() {
  void* frames[4];
  backtrace(frames, 4);
#ifdef QX_SOURCE_LINES
  if (g_sources == nullptr) g_sources = backtrace_create_state(nullptr, 1, &NoSource, nullptr);
#endif
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
  for (int i = first; i < first + shown; ++i) WriteFrame(descriptor, frames[i], i > first || first == 0);
}

void CrashStack::WriteOnCrash(int what) {
  if (MemoryChecker::Sanitized()) what &= ~SHOW_STACK;
  if (what == 0) return;
  g_what = what;
  Prepare();
  struct sigaction action {};
  action.sa_sigaction = &OnCrash;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < STACK_SIGNAL_COUNT; ++i) sigaction(STACK_SIGNALS[i], &action, &g_before[i]);
#ifdef QX_SANITIZER_DEATH_CALLBACK
  dl_iterate_phdr(&SetDeathCallback, nullptr);
#endif
}

#elif defined(_WIN32)

namespace {

// "SOURCE:LINE: " of the code at `within` in the file at `path`, loaded at
// `base`, where the file's DWARF line table, loaded with it, has them.
// `returned`: the address is where a call returns to, and the call is what
// is looked up.
void WriteSource(FixedText* line, const char* path, uintptr_t base, uintptr_t within, bool returned) {
  uintptr_t lines = 0;
  uintptr_t strings = 0;
  size_t lines_size = 0;
  size_t strings_size = 0;
  uint64_t preferred = 0;
  if (!SymbolTable::Section(path, ".debug_line", &lines, &lines_size) ||
      !SymbolTable::ImageBase(path, &preferred))
    return;
  if (!SymbolTable::Section(path, ".debug_line_str", &strings, &strings_size)) strings_size = 0;
  const LineTable table(reinterpret_cast<const unsigned char*>(base + lines), lines_size,
                        strings_size != 0 ? reinterpret_cast<const unsigned char*>(base + strings) : nullptr,
                        strings_size);
  char source[MAX_PATH];
  long number = 0;
  if (table.Find(preferred + within - (returned ? 1 : 0), source, sizeof source, &number))
    *line << source << ":" << static_cast<long long>(number) << ": ";
}

// One frame as glibc writes one: "FILE(FUNCTION+0xOFFSET) [0xADDRESS]", the
// function named by the file's symbol table, or "FILE(+0xRVA) [0xADDRESS]";
// after SOURCE:LINE where the file's debug information has them.
void WriteFrame(uintptr_t address, bool returned) {
  char path[MAX_PATH] = "?";
  char name[256];
  uintptr_t within = address;  // the address in the file
  uintptr_t start = 0;
  char buffer[MAX_PATH + 320];
  FixedText line(buffer, sizeof buffer);
  const bool located =
      SymbolTable::Locate(reinterpret_cast<const void*>(address), path, sizeof path, &within);
  if (located) WriteSource(&line, path, address - within, within, returned);
  if (!located) {
    line << "?(+";
  } else if (SymbolTable::FunctionAt(path, within, name, sizeof name, &start)) {
    line << path << "(" << name << "+";
    within -= start;
  } else {
    line << path << "(+";
  }
  line.Hex(within) << ") [";
  line.Hex(address) << "]\n";
  CrashStack::WriteText(line.c_str());
}

#if !(defined(_M_X64) || defined(__x86_64__))
// What of this thread's stack the walk reads: from the crashing frame's top
// (all above it is in use, so committed) to the stack's base.
struct StackBounds {
  uintptr_t low;
  uintptr_t high;
};

StackBounds ThisStack(uint32_t esp) {
  const NT_TIB* thread = nullptr;
  __asm__("movl %%fs:0x18, %0" : "=r"(thread));  // the thread's own block (NtCurrentTeb)
  const auto limit = reinterpret_cast<uintptr_t>(thread->StackLimit);
  return {esp > limit ? esp : limit, reinterpret_cast<uintptr_t>(thread->StackBase)};
}

bool ReadStack(uint32_t address, uint32_t* value, void* data) {
  const auto* stack = static_cast<const StackBounds*>(data);
  if (address < stack->low || address >= stack->high || stack->high - address < 4 || address % 4 != 0)
    return false;
  *value = *reinterpret_cast<const uint32_t*>(uintptr_t{address});
  return true;
}

// `registers` become those of their frame's caller; false where that is not
// known. `returned`: the frame was reached by a return address.
bool CallerOf(UnwindTable::Registers* registers, bool returned, StackBounds* stack) {
  const uint32_t eip = registers->value[UnwindTable::EIP];
  const uint32_t esp = registers->value[UnwindTable::ESP];
  char path[MAX_PATH];
  uintptr_t within = 0;
  if (!SymbolTable::Locate(reinterpret_cast<const void*>(uintptr_t{eip}), path, sizeof path, &within)) {
    // A call to where no code is (a null function): it returns to the
    // address on top of the stack.
    uint32_t back = 0;
    if (returned || !ReadStack(esp, &back, stack)) return false;
    registers->value[UnwindTable::EIP] = back;
    registers->value[UnwindTable::ESP] = esp + 4;
    return true;
  }
  uintptr_t table = 0;
  size_t size = 0;
  if (!SymbolTable::Section(path, ".eh_frame", &table, &size)) return false;
  const uintptr_t at = eip - within + table;  // the image's base, then the table in it
  const UnwindTable unwind(reinterpret_cast<const unsigned char*>(at), size, static_cast<uint32_t>(at));
  // A caller's frame lies above its callee's.
  return unwind.Step(registers, returned, &ReadStack, stack) && registers->value[UnwindTable::ESP] > esp;
}
#endif

LONG WINAPI OnException(EXCEPTION_POINTERS* exception) {
  WriteNotes(":\n");
  if ((g_what & CrashStack::SHOW_STACK) != 0) CrashStack::Write(2, exception->ContextRecord, 10);
  return EXCEPTION_CONTINUE_SEARCH;  // the process ends with the exception's code, as before
}

// abort() raises no exception: the C runtime's signal, with no frames to show.
void OnAbort(int signal) {
  WriteNotes(nullptr);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

const char* const CrashStack::HOW_TO_READ =
    " (a frame reads FILE(FUNCTION+OFFSET) [ADDRESS], FUNCTION as the file's symbol table names it, which "
    "`c++filt` reads, after SOURCE:LINE: where the file's debug information has it; where the file names "
    "none, FILE(+RVA) [ADDRESS], RVA the address less the file's base)";

void CrashStack::Prepare() {}

void CrashStack::Write(int /*descriptor*/, const void* context, int most) {
  CONTEXT frame = *static_cast<const CONTEXT*>(context);
#if defined(_M_X64) || defined(__x86_64__)
  // Unwound by the tables every x64 function carries; a function without one
  // (a leaf) returns through the address on top of its stack.
  for (int shown = 0; shown < most && frame.Rip != 0; ++shown) {
    WriteFrame(static_cast<uintptr_t>(frame.Rip), shown > 0);
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
  // 32-bit code: unwound by the .eh_frame of each frame's file, which MinGW's
  // GCC writes for every function (no other table, and seldom a frame
  // pointer); the walk ends at a file without one.
  UnwindTable::Registers registers{};
  // The faulting frame's scratch registers too: a prologue may keep its frame in ecx.
  registers.value[UnwindTable::EAX] = frame.Eax;
  registers.value[UnwindTable::ECX] = frame.Ecx;
  registers.value[UnwindTable::EDX] = frame.Edx;
  registers.value[UnwindTable::EIP] = frame.Eip;
  registers.value[UnwindTable::ESP] = frame.Esp;
  registers.value[UnwindTable::EBP] = frame.Ebp;
  registers.value[UnwindTable::EBX] = frame.Ebx;
  registers.value[UnwindTable::ESI] = frame.Esi;
  registers.value[UnwindTable::EDI] = frame.Edi;
  StackBounds stack = ThisStack(frame.Esp);
  for (int shown = 0; shown < most; ++shown) {
    WriteFrame(registers.value[UnwindTable::EIP], shown > 0);
    if (!CallerOf(&registers, shown > 0, &stack)) break;
  }
#endif
}

void CrashStack::WriteOnCrash(int what) {
  g_what = what;
  if (what == 0) return;
  SetUnhandledExceptionFilter(&OnException);
  std::signal(SIGABRT, &OnAbort);
}

#else

const char* const CrashStack::HOW_TO_READ = "";
void CrashStack::Prepare() {}
void CrashStack::Write(int /*descriptor*/, const void* /*context*/, int /*most*/) {}
void CrashStack::WriteOnCrash(int /*what*/) {}

#endif
