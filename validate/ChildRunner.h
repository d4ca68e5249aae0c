// Runs a program as a child process with a time limit and collects what it
// printed: the validator runs each check this way, so that a module that
// crashes, hangs or stops the process takes only its check down. One object
// runs one child; several objects run children side by side.
#ifndef VALIDATE_CHILDRUNNER_H
#define VALIDATE_CHILDRUNNER_H

#include <chrono>
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
    std::string err;  // standard error, cut to its last MAX_OUTPUT bytes
    double seconds = 0.0;
    std::string error;
  };
  // Most of each stream kept.
  static constexpr long MAX_OUTPUT = 64 * 1024;

  ChildRunner() = default;
  ~ChildRunner();  // kills a child still running
  ChildRunner(const ChildRunner&) = delete;
  ChildRunner& operator=(const ChildRunner&) = delete;

  // Starts `command` as it stands (command[0] is the program's path). False
  // if it could not start; Poll then tells why.
  bool Start(const std::vector<std::string>& command, double timeout_seconds);
  // True once the child has ended (or was killed at its time limit, or never
  // started), with `outcome` filled; false while it runs. Never blocks.
  bool Poll(Outcome* outcome);
  // Start, then wait for the end.
  static Outcome Run(const std::vector<std::string>& command, double timeout_seconds);
  // The words of the environment variable QXHOST_CHILD_LAUNCHER (split at
  // spaces), to put before a command that runs this program again: an
  // emulator such as qemu-i386 where this program is of a foreign
  // architecture. Empty when the variable is not set.
  static std::vector<std::string> Launcher();
  // The running program's own file, to run it again as a child.
  static std::string SelfPath();
  // "SIGSEGV", "SIGABRT", ... or "signal N"; on Windows the exception's name.
  static std::string SignalName(long code);

 private:
  void Collect(Outcome* outcome);

  std::chrono::steady_clock::time_point m_start;
  double m_timeout = 0.0;
  bool m_running = false;
  std::string m_error;  // why it did not start
  std::string m_program;
#ifdef _WIN32
  void* m_process = nullptr;
  void* m_out = nullptr;
  void* m_err = nullptr;
#else
  int m_pid = -1;
  int m_out = -1;
  int m_err = -1;
#endif
};

#endif  // VALIDATE_CHILDRUNNER_H
