// Runs the qxhost executable as its users do, as a child process, and keeps
// what it printed and how it ended. In a build whose tests run under an
// emulator (QX_EMULATOR, qemu-i386 for 32-bit x86 Linux), qxhost runs through
// it, whether or not the kernel could run it itself, and so do the children
// qxhost starts (QXHOST_CHILD_LAUNCHER): one road on every machine.
#ifndef TESTS_QXHOSTRUN_H
#define TESTS_QXHOSTRUN_H

#include <cstdlib>
#include <string>
#include <vector>

#include "ChildRunner.h"

struct QXHostRun {
  explicit QXHostRun(const std::vector<std::string>& args, double timeout = 300.0) {
    std::vector<std::string> command = Launcher();
    command.push_back(QX_QXHOST);
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
  // The emulator, also handed on to qxhost's children unless the test sets a
  // launcher of its own. Windows programs start Windows programs directly.
  static std::vector<std::string> Launcher() {
#ifdef _WIN32
    return {};
#else
    const std::string emulator = QX_EMULATOR;
    if (emulator.empty()) return {};
    if (std::getenv("QXHOST_CHILD_LAUNCHER") == nullptr) setenv("QXHOST_CHILD_LAUNCHER", emulator.c_str(), 1);
    return {emulator};
#endif
  }
};

#endif  // TESTS_QXHOSTRUN_H
