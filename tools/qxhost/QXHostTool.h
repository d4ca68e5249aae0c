// The reference host as a command-line tool: loads a module file and shows
// what the module says and does. `Run` is the whole tool, so tests drive it
// in-process.
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
  int Run(const std::vector<std::string>& args);

  // A whole decimal float, inf and nan included; false for anything else.
  static bool ParseValue(const std::string& text, double* value);

 private:
  int Help(const std::string& command);
  int Usage(const std::string& command, const std::string& problem);
  int Info(const std::vector<std::string>& args);
  int Set(const std::vector<std::string>& args);
  int Validate(const std::vector<std::string>& args);
  int ListChecks(const std::vector<std::string>& args);

  std::ostream& m_out;
  std::ostream& m_err;
};

#endif  // TOOLS_QXHOST_QXHOSTTOOL_H
