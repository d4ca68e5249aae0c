// One command of qxhost: it declares its subcommand and options on the tool's
// command line, and runs once the line is parsed.
#ifndef TOOLS_QXHOST_TOOLCOMMAND_H
#define TOOLS_QXHOST_TOOLCOMMAND_H

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

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
  // Whether the command loads a module in a process of its own (the tool
  // then runs it again there, with --in-process): a module that crashes or
  // hangs while it loads or answers ends that process, not the tool. The
  // module's path and the time limit for it.
  virtual bool Isolated() const { return false; }
  virtual std::string Module() const { return ""; }
  virtual double Timeout() const { return 0.0; }
  // In the process of its own, the command says on the report channel that
  // it ended by itself, with its exit status: an exit status alone could be
  // a crash's (a sanitizer's report ends with status 1).
  void ReportDone(int code) const;
  // Whether another qxhost started this process (it gave it a report channel).
  bool IsChildProcess() const { return !m_report_to.empty(); }
  // The line that says so, and its reading: false if `report` lacks it.
  static std::string DoneLine(const std::string& token, int code);
  static bool ReadDone(const std::string& report, const std::string& token, int* code);

 protected:
  ToolCommand(CLI::App& tool, const char* name, std::string usage, const std::string& description)
      : m_app(tool.add_subcommand(name, description)), m_usage(std::move(usage)) {}

  // Opens a module file as the host does; nothing and one line on `err` if it
  // cannot be used.
  static std::optional<ModuleLibrary> Load(const std::string& path, std::ostream& err);
  // --timeout and --in-process, for a command that is Isolated, and the
  // hidden options of its process of its own.
  void AddIsolationOptions(double* timeout, bool* in_process);
  // The hidden options of a process that another qxhost starts: its report
  // channel and the run's token.
  void AddChildOptions();
  const std::string& ReportTo() const { return m_report_to; }
  const std::string& Token() const { return m_token; }
  // Options' numbers, strictly: the whole text a number within the range, or
  // a UsageError that names the option and says the range.
  static long long Whole(const std::string& option, const std::string& text, long long min, long long max);
  static unsigned long long Unsigned(const std::string& option, const std::string& text);
  static double Seconds(const std::string& option, const std::string& text, double max);

 private:
  CLI::App* m_app;
  std::string m_usage;
  std::string m_report_to;  // the report channel of a process of its own, and the run's token
  std::string m_token;
};

#endif  // TOOLS_QXHOST_TOOLCOMMAND_H
