// One command of qxhost: it declares its subcommand and options on the tool's
// command line, and runs once the line is parsed.
#ifndef TOOLS_QXHOST_TOOLCOMMAND_H
#define TOOLS_QXHOST_TOOLCOMMAND_H

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "ModuleLibrary.h"

class ToolCommand {
 public:
  // Exit codes.
  enum { OK = 0, FAILED = 1, USAGE = 2 };
  // A command line that names this command but does not fit it; the tool
  // prints the text and the command's usage line.
  struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
  };

  virtual ~ToolCommand() = default;
  ToolCommand(const ToolCommand&) = delete;
  ToolCommand& operator=(const ToolCommand&) = delete;

  CLI::App* App() const { return m_app; }
  // "qxhost info [--json] MODULE"
  const std::string& Usage() const { return m_usage; }
  // Runs the parsed command and answers the exit code; throws UsageError.
  virtual int Run(std::ostream& out, std::ostream& err) = 0;
  // Whether the process must end right after Run, without the clean-up at
  // exit (a check's own process: what the module leaves behind at exit is not
  // the check's result).
  virtual bool EndsAtOnce() const { return false; }

 protected:
  ToolCommand(CLI::App& tool, const char* name, std::string usage, const std::string& description)
      : m_app(tool.add_subcommand(name, description)), m_usage(std::move(usage)) {}

  // Opens a module file as the host does; nothing and one line on `err` if it
  // cannot be used.
  static std::optional<ModuleLibrary> Load(const std::string& path, std::ostream& err);

 private:
  CLI::App* m_app;
  std::string m_usage;
};

#endif  // TOOLS_QXHOST_TOOLCOMMAND_H
