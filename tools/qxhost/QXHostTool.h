// The reference host as a command-line tool: the commands (one class each)
// on one command line, help, version, and every usage error in one style:
// "qxhost: PROBLEM" and the command's usage line, exit status 2. `Run` is the
// whole tool except the process around it, so tests drive it in-process.
#ifndef TOOLS_QXHOST_QXHOSTTOOL_H
#define TOOLS_QXHOST_QXHOSTTOOL_H

#include <ostream>
#include <string>
#include <utility>
#include <vector>

class ChildRequest;
class ToolCommand;

class QXHostTool {
 public:
  // Exit codes.
  enum { OK = 0, FAILED = 1, USAGE = 2 };

  // With `isolate`, the commands that load a module do so in a process of
  // their own, this program (`program`, or the running one) run again.
  QXHostTool(std::ostream& out, std::ostream& err, bool isolate = true, std::string program = "")
      : m_out(out), m_err(err), m_isolate(isolate), m_program(std::move(program)) {}
  // Runs the command line `args` (without the program's name); answers the
  // exit status.
  // A process that another qxhost started has ChildRequest::OPTION and a
  // number for its command line, and takes its command from the request.
  int Run(const std::vector<std::string>& args);
  // Whether the process must end at once after Run, skipping the clean-up at
  // exit (a check's own process).
  bool EndsAtOnce() const { return m_ends_at_once; }

 private:
  // Runs the command line `args`; `request` is that of a process another
  // qxhost started (nullptr otherwise), which runs its command here.
  int RunLine(const std::vector<std::string>& args, const ChildRequest* request);
  // Runs the command line again in a child process, which runs it in-process
  // and sends its answer back whole; the module's own printing is shown
  // apart, escaped; a crash or a hang there is one line here.
  int RunIsolated(const std::vector<std::string>& args, const ToolCommand& command);

  std::ostream& m_out;
  std::ostream& m_err;
  bool m_isolate;
  std::string m_program;
  bool m_ends_at_once = false;
};

#endif  // TOOLS_QXHOST_QXHOSTTOOL_H
