// Runs a program as a child process with a time limit and collects what it
// printed: the validator runs each check this way, so that a module that
// crashes, hangs or stops the process takes only its check down. One object
// runs one child; several objects run children side by side.
//
// Besides its standard output and error, a child gets a report channel of its
// own: a file it inherits, named on its command line, on which it writes what
// the parent must be able to trust (a module printing to its output cannot
// reach it by accident).
//
// No child outlives the run: each runs in a process group of its own (a job
// object on Windows) that a time-out ends whole; EndChildrenOnSignals makes
// SIGINT, SIGTERM and SIGHUP end every running child's group before this
// process exits; and a child started with this runner asks, through
// EndWithParent, to die with its parent.
#ifndef VALIDATE_CHILDRUNNER_H
#define VALIDATE_CHILDRUNNER_H

#include <chrono>
#include <string>
#include <vector>

class ChildRunner {
 public:
  enum class End {
    EXITED,      // `code` is the exit status
    SIGNALLED,   // `code` is the signal (POSIX) or the exception code (Windows)
    TIMED_OUT,   // killed at the time limit
    NOT_STARTED  // `error` says why
  };
  struct Outcome {
    End end = End::NOT_STARTED;
    long code = 0;
    std::string out;     // standard output
    std::string err;     // standard error
    std::string report;  // what the child wrote on its report channel
    double seconds = 0.0;
    std::string error;
  };
  // Most of each stream kept (its tail).
  static constexpr long MAX_OUTPUT = 64L * 1024;
  // An argument equal to this is replaced by the number of the child's report
  // channel (a file descriptor, or a handle's value on Windows).
  static constexpr const char* REPORT_CHANNEL = "@report-channel@";

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
  // The line of a process's output that says best why it ended (an
  // assertion, a sanitizer's report, an uncaught exception), or "".
  static std::string Headline(const std::string& output);

  // From now on SIGINT, SIGTERM and SIGHUP end every running child (with
  // what it started) and then this process, with status 128 + the signal.
  static void EndChildrenOnSignals();
  // Called in a process this runner started (before it loads a module): the
  // process dies when its parent does (Linux), and ends at once if the parent
  // is already gone. On Windows the parent's job object does the same.
  static void EndWithParent();

 private:
  void Collect(Outcome* outcome);
  void Forget();

  std::chrono::steady_clock::time_point m_start;
  double m_timeout = 0.0;
  bool m_running = false;
  std::string m_error;  // why it did not start
  std::string m_program;
#ifdef _WIN32
  void* m_process = nullptr;
  void* m_out = nullptr;
  void* m_err = nullptr;
  void* m_report = nullptr;
#else
  int m_pid = -1;
  int m_out = -1;
  int m_err = -1;
  int m_report = -1;
#endif
};

#endif  // VALIDATE_CHILDRUNNER_H
