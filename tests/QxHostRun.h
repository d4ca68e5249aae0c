// Runs the qxhost executable as its users do, as a child process, and keeps
// what it printed and how it ended. In a build whose tests run under an
// emulator, qxhost runs natively when the machine can, else through the
// emulator (QXHOST_CHILD_LAUNCHER, which qxhost also uses for its own
// children).
#ifndef TESTS_QXHOSTRUN_H
#define TESTS_QXHOSTRUN_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ChildRunner.h"

struct QxHostRun {
  explicit QxHostRun(const std::vector<std::string>& args, double timeout = 300.0) {
    UseEmulatorIfNeeded();
    std::vector<std::string> command = {QX_QXHOST};
    command.insert(command.end(), args.begin(), args.end());
    const ChildRunner::Outcome outcome = ChildRunner::Run(command, timeout);
    exited = outcome.end == ChildRunner::End::EXITED;
    code = outcome.code;
    out = outcome.out;
    err = outcome.err;
    seconds = outcome.seconds;
  }
  bool exited;
  long code;
  std::string out, err;
  double seconds;

  static std::string Module(const std::string& file) { return std::string(QX_TEST_MODULE_DIR) + "/" + file; }

 private:
  static void UseEmulatorIfNeeded() {
    static const bool done = [] {
      const std::string emulator = QX_EMULATOR;
      if (emulator.empty() || std::getenv("QXHOST_CHILD_LAUNCHER") != nullptr) return true;
      const ChildRunner::Outcome native = ChildRunner::Run({QX_QXHOST, "--help"}, 60.0);
      if (native.end != ChildRunner::End::EXITED || native.code != 0) {
#ifndef _WIN32
        setenv("QXHOST_CHILD_LAUNCHER", emulator.c_str(), 1);
#endif
        std::fprintf(stderr, "qxhost runs through %s\n", emulator.c_str());
      }
      return true;
    }();
    (void)done;
  }
};

#endif  // TESTS_QXHOSTRUN_H
