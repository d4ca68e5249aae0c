// The crashing thread's stack, written from a signal handler without
// allocating, for where no memory checker runs a crashed process once more
// (MemoryChecker): a check's process, and qxhost process, show where the
// module crashed. An info or set process also names the call into the module
// in flight (ModuleCall). A frame reads FILE(FUNCTION+OFFSET)[ADDRESS], the
// function named by the file's own symbol table (SymbolTable: a module's
// functions too, which it does not export), or FILE(+OFFSET)[ADDRESS] where
// the file names none, after SOURCE:LINE: where the file's debug information
// has them. On Linux (glibc) it is written from a signal handler, the lines
// read by GCC's libbacktrace; on Windows from the unhandled-exception filter,
// the lines read by LineTable, OFFSET being the address less the file's base
// (on x64 unwound by the system's tables, on 32-bit x86 by the files'
// .eh_frame: UnwindTable); elsewhere nothing is written.
#ifndef VALIDATE_CRASHSTACK_H
#define VALIDATE_CRASHSTACK_H

class CrashStack {
 public:
  // The line before the frames, by which a reader finds them: HEADER, then
  // HOW_TO_READ them.
  static constexpr const char* HEADER = "the crashing thread's stack";
  static const char* const HOW_TO_READ;
  // The start of the line that names the call in flight: "qxhost: CALL: words".
  static constexpr const char* CALL = "the call into the module in flight";
  // Readies the stack walk (its first use may allocate): before a handler
  // that calls Write is installed.
  static void Prepare();
  // The current thread's frames on `descriptor`, at most `most`, from the
  // one where the signal came (found from `context`, a handler's third
  // argument); all of them where it is not found.
  static void Write(int descriptor, const void* context, int most);
  // What WriteOnCrash writes.
  enum What { NAME_CALL = 1, SHOW_STACK = 2 };
  // From now on a crash of this process (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
  // SIGABRT) first writes on standard error what `what` asks: NAME_CALL, the
  // CALL line where a call into the module is in flight; SHOW_STACK, HEADER
  // and the ten innermost frames (a report shows the last twelve lines of a
  // check's output), not where a sanitizer reports crashes itself. Then the
  // handler before this one has the signal, and the process ends as it would
  // have. Where a sanitizer ends the process, the CALL line follows its report.
  static void WriteOnCrash(int what);
  // `text` on standard error, without allocating.
  static void WriteText(const char* text);
};

#endif  // VALIDATE_CRASHSTACK_H
