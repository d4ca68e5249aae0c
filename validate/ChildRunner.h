// Runs a program as a child process with a time limit and collects what it
// printed: the validator runs each check this way, so that a module that
// crashes, hangs or stops the process takes only its check down. One object
// runs one child; several objects run children side by side.
//
// Besides its standard output and error, a child gets two channels of its
// own: a pipe it can only write, for what the parent must be able to trust
// (its results, read whole), and a file for the calls in flight, which
// survives a crash. A child started with a request (ChildRequest) learns the
// channels' numbers, the run's token and its command's words from the
// request; its command line holds only ChildRequest::OPTION and a number.
//
// No child outlives the run: each runs in a process group of its own (a job
// object of its own on Windows) that its end, or its time-out, ends whole; on
// Linux this process adopts what escapes the group (a child subreaper) and
// ends it as well. EndChildrenOnSignals makes SIGINT, SIGTERM and SIGHUP end
// every running child and its descendants before this process exits; and a
// child started with this runner asks, through EndWithParent, to die with
// its parent. One file per system (ChildRunnerPosix.cpp,
// ChildRunnerWindows.cpp) does the system's part.
#ifndef VALIDATE_CHILDRUNNER_H
#define VALIDATE_CHILDRUNNER_H

#include <chrono>
#include <string>
#include <vector>

#include "ChildRequest.h"

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
    std::string out;          // standard output
    std::string err;          // standard error
    std::string report;       // what the child wrote on its results channel, whole
    bool report_cut = false;  // more than MAX_REPORT: the rest was dropped
    std::string calls;        // the tail of what it wrote on its calls channel
    double seconds = 0.0;
    std::string error;
  };
  // Most of each stream kept (its tail).
  static constexpr long MAX_OUTPUT = 64L * 1024;
  // The results channel is read whole up to this; a child that writes more
  // is not believed.
  static constexpr long MAX_REPORT = 64L * 1024 * 1024;
  // The channels' numbers in a child on POSIX systems (on Windows, handles
  // named in the request).
  static constexpr int REQUEST_FD = 3;
  static constexpr int RESULTS_FD = 4;
  static constexpr int CALLS_FD = 5;

  ChildRunner() = default;
  ~ChildRunner();  // kills a child still running
  ChildRunner(const ChildRunner&) = delete;
  ChildRunner& operator=(const ChildRunner&) = delete;

  // Starts `command` as it stands (command[0] is the program's path), and,
  // with a request (its `args` not empty), ChildRequest::OPTION and the
  // request's number after it; the runner fills in the request's channels.
  // False if it could not start; Poll then tells why.
  bool Start(const std::vector<std::string>& command, double timeout_seconds,
             ChildRequest request = ChildRequest());
  // True once the child has ended (or was killed at its time limit, or never
  // started), with `outcome` filled; false while it runs. Never blocks.
  bool Poll(Outcome* outcome);
  // Start, then wait for the end.
  static Outcome Run(const std::vector<std::string>& command, double timeout_seconds,
                     ChildRequest request = ChildRequest());

  // The words of the environment variable QXHOST_CHILD_LAUNCHER (split at
  // spaces), to put before a command that runs this program again: an
  // emulator such as qemu-i386 where this program is of a foreign
  // architecture. Empty when the variable is not set.
  static std::vector<std::string> Launcher();
  // The launcher's words, then `program`: how to start this program again.
  static std::vector<std::string> Command(const std::string& program);
  // The running program's own file, to run it again as a child.
  static std::string SelfPath();
  // "SIGSEGV", "SIGABRT", ... or "signal N"; on Windows the exception's name.
  static std::string SignalName(long code);
  // The line of a process's output that says best why it ended (an
  // assertion, a sanitizer's report, an uncaught exception), or "".
  static std::string Headline(const std::string& output);
  // The last MAX_OUTPUT bytes of `text`: what a module printed last is what
  // explains its end.
  static std::string Tail(std::string text);

  // Whether this process adopts what leaves a child's group, to end it with
  // the child: Linux, unless an emulator lacks the call (qemu-i386's user
  // mode does); on Windows a job object holds whatever a child starts.
  static bool AdoptsEscapedProcesses();
  // From now on SIGINT, SIGTERM and SIGHUP end every running child (with
  // what it started) and then this process, with status 128 + the signal.
  static void EndChildrenOnSignals();
  // Called in a process this runner started (before it loads a module): the
  // process dies when its parent does (Linux), and ends at once if the parent
  // is already gone. On Windows the parent's job object does the same.
  static void EndWithParent();

 private:
  void Collect(Outcome* outcome);
  // Reads what the results channel holds now, without waiting.
  void Drain();
  // Keeps what was read from the results channel, up to MAX_REPORT.
  void Keep(const char* data, size_t size);
  void Forget();

  std::chrono::steady_clock::time_point m_start;
  double m_timeout = 0.0;
  bool m_running = false;
  std::string m_error;  // why it did not start
  std::string m_program;
  std::string m_report;  // read from the results channel so far
  bool m_report_cut = false;
#ifdef _WIN32
  void* m_process = nullptr;
  void* m_job = nullptr;
  void* m_out = nullptr;
  void* m_err = nullptr;
  void* m_results = nullptr;  // the pipe's end this process reads
  void* m_calls = nullptr;
#else
  int m_pid = -1;
  int m_out = -1;
  int m_err = -1;
  int m_results = -1;
  int m_calls = -1;
#endif
};

#endif  // VALIDATE_CHILDRUNNER_H
