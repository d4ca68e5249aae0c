// Runs a program as a child process with a time limit and collects what it
// printed: the validator runs each check this way, so that a module that
// crashes, hangs or stops the process takes only its check down.
#ifndef HOST_CHILDRUNNER_H
#define HOST_CHILDRUNNER_H

#include <string>
#include <vector>

class ChildRunner {
 public:
  enum class End {
    EXITED,       // `code` is the exit status
    SIGNALLED,    // `code` is the signal (POSIX) or the exception code (Windows)
    TIMED_OUT,    // killed at the time limit
    NOT_STARTED   // `error` says why
  };
  struct Outcome {
    End end = End::NOT_STARTED;
    long code = 0;
    std::string out;  // standard output
    std::string err;  // standard error, cut to its last kMaxOutput bytes
    double seconds = 0.0;
    std::string error;
  };
  // Most of each stream kept.
  static constexpr long kMaxOutput = 64 * 1024;

  // `command[0]` is the program's path. The environment variable
  // QXHOST_CHILD_LAUNCHER, if set, is put before it (split at spaces): an
  // emulator such as qemu-i386 for a program of a foreign architecture.
  static Outcome Run(const std::vector<std::string>& command, double timeout_seconds);
  // The running program's own file, to run it again as a child.
  static std::string SelfPath();
  // "SIGSEGV", "SIGABRT", ... or "signal N"; on Windows the exception's name.
  static std::string SignalName(long code);
};

#endif  // HOST_CHILDRUNNER_H
