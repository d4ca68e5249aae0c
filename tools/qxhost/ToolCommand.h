// One command of qxhost: it declares its subcommand and options on the tool's
// command line, and runs once the line is parsed. The command-line library
// (CLI11, a large header) is compiled only here and in the tool: a command
// declares its words through Flag and Option.
#ifndef TOOLS_QXHOST_TOOLCOMMAND_H
#define TOOLS_QXHOST_TOOLCOMMAND_H

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildRequest.h"
#include "ModuleLibrary.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

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
  // In the process of its own, the command sends its whole answer on the
  // results channel: its exit status (alone it could be a crash's: a
  // sanitizer's report ends with status 1) and what it printed on each
  // stream. What the module prints itself goes to the process's own streams.
  void ReportDone(int code, const std::string& out, const std::string& err) const;
  // Makes this the command of a process another qxhost started, with the
  // channels and token of its request.
  void BeChild(const ChildRequest& request) { m_request = request; }
  bool IsChildProcess() const { return !m_request.token.empty(); }
  // The answer as it travels, and its reading: false if `report` lacks it,
  // holds it cut short, or holds more than one.
  struct Answer {
    int code = 0;
    std::string out, err;
  };
  static std::string DoneText(const std::string& token, const Answer& answer);
  static bool ReadDone(const std::string& report, const std::string& token, Answer* answer);

 protected:
  ToolCommand(CLI::App& tool, const char* name, std::string usage, const std::string& description);

  // One of the command's words as declared: a flag, an option ("--name") or
  // a positional argument ("NAME"), each read as text (numbers are read
  // strictly in Run, by Whole, Unsigned and Seconds).
  class Argument {
   public:
    explicit Argument(CLI::Option* option) : m_option(option) {}
    Argument& TypeName(const char* name);  // in the help: "--jobs N"
    Argument& Required();
    Argument& Hidden();      // no help line: a word between qxhost processes
    Argument& EveryValue();  // each time it is given, one more value
   private:
    CLI::Option* m_option;
  };
  Argument Flag(const char* name, bool* target, const char* help = "");
  Argument Option(const char* name, std::string* target, const char* help = "");
  // More than one value; a positional one takes the rest of the line.
  Argument Option(const char* name, std::vector<std::string>* target, const char* help = "");

  // Opens a module file as the host does; nothing and one line on `err` if it
  // cannot be used.
  static std::optional<ModuleLibrary> Load(const std::string& path, std::ostream& err);
  // --timeout and --in-process, for a command that is Isolated.
  void AddIsolationOptions(double* timeout, bool* in_process);
  // The request of a process another qxhost started (empty otherwise).
  const ChildRequest& Request() const { return m_request; }
  // Options' numbers, strictly: the whole text a number within the range, or
  // a UsageError that names the option and says the range.
  static long long Whole(const std::string& option, const std::string& text, long long min, long long max);
  static unsigned long long Unsigned(const std::string& option, const std::string& text);
  static double Seconds(const std::string& option, const std::string& text, double max);

 private:
  CLI::App* m_app;
  std::string m_usage;
  ChildRequest m_request;
};

#endif  // TOOLS_QXHOST_TOOLCOMMAND_H
