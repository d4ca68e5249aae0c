// The reference host as a command-line tool: the commands (one class each)
// on one command line, help, version, and every usage error in one style:
// "qxhost: PROBLEM" and the command's usage line, exit status 2. `Run` is the
// whole tool except the process around it, so tests drive it in-process.
#ifndef TOOLS_QXHOST_QXHOSTTOOL_H
#define TOOLS_QXHOST_QXHOSTTOOL_H

#include <ostream>
#include <string>
#include <vector>

class QXHostTool {
 public:
  // Exit codes.
  enum { OK = 0, FAILED = 1, USAGE = 2 };

  QXHostTool(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}
  // Runs the command line `args` (without the program's name); answers the
  // exit status.
  int Run(const std::vector<std::string>& args);
  // Whether the process must end at once after Run, skipping the clean-up at
  // exit (a check's own process).
  bool EndsAtOnce() const { return m_ends_at_once; }

 private:
  std::ostream& m_out;
  std::ostream& m_err;
  bool m_ends_at_once = false;
};

#endif  // TOOLS_QXHOST_QXHOSTTOOL_H
