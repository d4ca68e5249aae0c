#include "QXHostTool.h"

#include <CLI/CLI.hpp>
#include <map>
#include <memory>
#include <sstream>

#include "ChildReport.h"
#include "ChildRequest.h"
#include "ChildRunner.h"
#include "CrashStack.h"
#include "FileCheckCommand.h"
#include "FuzzCommand.h"
#include "InfoCommand.h"
#include "ListChecksCommand.h"
#include "MemoryChecker.h"
#include "NewCommand.h"
#include "ProcessCommand.h"
#include "QXVersion.h"
#include "SetCommand.h"
#include "TextFormat.h"
#include "ToolCommand.h"
#include "ValidateCommand.h"

namespace {

const char TOOL_USAGE[] = "qxhost [--help] [--version] COMMAND [--help] ...";
const char TOOL_DESCRIPTION[] =
    "qxhost: load a module library of this host format and drive it as the host does.\n"
    "\n"
    "commands:\n"
    "  info MODULE              the module's properties and its pin table\n"
    "  set MODULE PIN=VALUE...  open a DSP and a GUI instance, apply each edit, print every pin\n"
    "  validate MODULE...       run the checks of the host contract on each module\n"
    "  list-checks              the checks validate runs\n"
    "  fuzz MODULE              random host behaviour for a while; a finding with its replay\n"
    "  process MODULE IN OUT    run the DSP side over an audio file\n"
    "  inspect MODULE           read a module file without loading it: machine, exports, imports\n"
    "  new NAME FOLDER          write a module project to start from\n"
    "\n"
    "'qxhost COMMAND --help' describes a command. Exit status: 0 done, 1 the module failed,\n"
    "2 bad usage.";

// Help as this tool has always shown it: the usage line first, then what the
// command does, then its arguments and options.
class Help : public CLI::Formatter {
 public:
  void SetUsage(const CLI::App* app, const std::string& usage) { m_usage[app] = usage; }
  std::string Usage(const CLI::App* app) const {
    const auto it = m_usage.find(app);
    return it != m_usage.end() ? it->second : TOOL_USAGE;
  }
  std::string make_usage(const CLI::App* app, std::string /*name*/) const override {
    return "usage: " + Usage(app) + "\n";
  }
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return make_usage(app, name) + app->get_description() + "\n" + make_positionals(app) +
           make_groups(app, mode);
  }

 private:
  std::map<const CLI::App*, std::string> m_usage;
};

}  // namespace

int QXHostTool::Run(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != ChildRequest::OPTION) return RunLine(args, nullptr);
  ChildRequest request;
  if (args.size() != 2 || !ChildRequest::Take(args[1], &request)) {
    m_err << "qxhost: " << ChildRequest::OPTION << " is for the processes qxhost starts itself\n";
    return USAGE;
  }
  return RunLine(request.args, &request);
}

int QXHostTool::RunLine(const std::vector<std::string>& args, const ChildRequest* request) {
  m_ends_at_once = false;
  // In a process of its own, an isolated command's answer is gathered here
  // and sent to the parent whole.
  std::ostringstream answer_out, answer_err;
  std::ostream* out = &m_out;
  std::ostream* err = &m_err;
  CLI::App tool(TOOL_DESCRIPTION, "qxhost");
  const auto help = std::make_shared<Help>();
  tool.formatter(help);
  // Options are "--name" only: a word that starts with "/" is a path, on
  // Windows too (CLI11 would read it there as an option and lose the module).
  tool.allow_windows_style_options(false);
  // One command per line; a later word is that command's argument ("help set").
  tool.require_subcommand(0, 1);
  // An option given twice takes its last value, as shells and scripts expect.
  tool.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  tool.set_version_flag("--version", "qxhost " QX_VERSION_TEXT,
                        "the version of qxhost and of the module it builds");
  // "help COMMAND" as well as "COMMAND --help".
  std::string help_topic;
  CLI::App* help_command = tool.add_subcommand("help", "describes a command");
  help_command->add_option("COMMAND", help_topic);
  help_command->group("");

  std::vector<std::unique_ptr<ToolCommand>> commands;
  commands.push_back(std::make_unique<InfoCommand>(tool));
  commands.push_back(std::make_unique<SetCommand>(tool));
  commands.push_back(std::make_unique<ValidateCommand>(tool));
  commands.push_back(std::make_unique<ListChecksCommand>(tool));
  commands.push_back(std::make_unique<FuzzCommand>(tool));
  commands.push_back(std::make_unique<ProcessCommand>(tool));
  commands.push_back(std::make_unique<FileCheckCommand>(tool));
  commands.push_back(std::make_unique<NewCommand>(tool));
  for (const auto& command : commands) help->SetUsage(command->App(), command->Usage());

  const auto chosen = [&]() -> ToolCommand* {
    for (const auto& command : commands) {
      if (command->App()->parsed()) return command.get();
    }
    return nullptr;
  };
  const auto usage_error = [&](const std::string& problem) {
    ToolCommand* command = chosen();
    *err << "qxhost: " << problem << "\n"
         << "usage: " << (command != nullptr ? command->Usage() : std::string(TOOL_USAGE)) << "\n";
    return USAGE;
  };

  try {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    tool.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    m_out << tool.help();
    return OK;
  } catch (const CLI::CallForVersion& version) {
    m_out << version.what() << "\n";
    return OK;
  } catch (const CLI::ExtrasError&) {
    const std::vector<std::string> extras =
        chosen() != nullptr ? chosen()->App()->remaining() : tool.remaining();
    const std::string extra = extras.empty() ? "?" : extras.front();
    if (chosen() == nullptr && !extra.empty() && extra[0] != '-')
      return usage_error("unknown command '" + extra + "'");
    return usage_error((extra[0] == '-' ? "unknown option '" : "unexpected argument '") + extra + "'");
  } catch (const CLI::ArgumentMismatch& e) {
    // "--junit: 1 required TEXT missing"
    const std::string what = e.what();
    return usage_error(what.substr(0, what.find(':')) + " needs a value");
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  } catch (const ToolCommand::UsageError& e) {
    return usage_error(e.what());
  }

  if (help_command->parsed()) {
    for (const auto& command : commands) {
      if (command->App()->get_name() == help_topic) {
        m_out << help->make_help(command->App(), help_topic, CLI::AppFormatMode::Normal);
        return OK;
      }
    }
    m_out << tool.help();
    return OK;
  }
  ToolCommand* command = chosen();
  if (command == nullptr) return usage_error("no command");
  if (request != nullptr) {
    // A process that another qxhost started ends with it, and never starts
    // another process of its own for the module.
    command->BeChild(*request);
    ChildRunner::EndWithParent();
    // A crash of info's or set's process names the call into the module in
    // flight (a check names its calls through its trace); where no memory
    // checker will run it again, it shows its stack with the module's output.
    int on_crash = command->Isolated() ? CrashStack::NAME_CALL : 0;
    if (MemoryChecker::Command().empty()) on_crash |= CrashStack::SHOW_STACK;
    CrashStack::WriteOnCrash(on_crash);
  } else if (m_isolate && command->Isolated()) {
    return RunIsolated(args, *command);
  }
  const bool answers = request != nullptr && command->Isolated();
  if (answers) {
    out = &answer_out;
    err = &answer_err;
  }
  int code;
  try {
    code = command->Run(*out, *err);
  } catch (const ToolCommand::UsageError& e) {
    code = usage_error(e.what());
  }
  m_ends_at_once = command->EndsAtOnce();
  m_out.flush();
  m_err.flush();
  if (answers) command->ReportDone(code, answer_out.str(), answer_err.str());
  return code;
}

int QXHostTool::RunIsolated(const std::vector<std::string>& args, const ToolCommand& command) {
  ChildRequest request;
  request.token = ChildReport::NewToken();
  request.args = args;
  ChildRunner::EndChildrenOnSignals();
  const std::string program = m_program.empty() ? ChildRunner::SelfPath() : m_program;
  const ChildRunner::Outcome outcome =
      ChildRunner::Run(ChildRunner::Command(program), command.Timeout(), request);
  ToolCommand::Answer answer;
  if (outcome.end == ChildRunner::End::EXITED &&
      ToolCommand::ReadDone(outcome.report, request.token, &answer)) {
    m_out << answer.out;
    m_err << answer.err;
    // What the module printed itself, apart from the answer and escaped (a
    // failure below names its last line instead).
    const std::string printed = outcome.out + outcome.err;
    if (!printed.empty()) {
      m_err << "qxhost: the module printed:\n" << TextFormat::Printable(printed, true);
      if (printed.back() != '\n') m_err << "\n";
    }
    return answer.code;
  }
  const std::string module = TextFormat::Printable(command.Module());
  // A crash's call in flight and stack, where the process wrote them
  // (CrashStack): the call goes into the line, the stack follows it.
  std::string printed = outcome.err, stack, during;
  const std::string call_line = std::string("qxhost: ") + CrashStack::CALL + ": ";
  const size_t call_at = printed.find(call_line);
  if (call_at != std::string::npos) {
    const size_t end = printed.find('\n', call_at);
    during = " during " + TextFormat::Printable(
                              printed.substr(call_at + call_line.size(), end - call_at - call_line.size()));
    printed.erase(call_at, end == std::string::npos ? std::string::npos : end + 1 - call_at);
  }
  const size_t stack_at = printed.find(std::string("qxhost: ") + CrashStack::HEADER);
  if (stack_at != std::string::npos) {
    stack = printed.substr(stack_at);
    printed.erase(stack_at);
    while (!stack.empty() && stack.back() == '\n') stack.pop_back();
  }
  std::string why = ChildRunner::Headline(printed);
  if (why.empty()) {
    // The last line it printed (the system's loader says why there).
    why = printed;
    while (!why.empty() && why.back() == '\n') why.pop_back();
    const size_t line = why.rfind('\n');
    if (line != std::string::npos) why = why.substr(line + 1);
  }
  const std::string because = why.empty() ? "" : ": " + TextFormat::Printable(why);
  m_err << "qxhost: " << module << ": ";
  switch (outcome.end) {
    case ChildRunner::End::EXITED:
      m_err << "the module ended the process with status " << outcome.code << during
            << " before qxhost could answer" << because;
      break;
    case ChildRunner::End::SIGNALLED: {
      m_err << "the module crashed the process (" << ChildRunner::SignalName(outcome.code) << ")" << during
            << because;
      if (!stack.empty()) m_err << "\n" << TextFormat::Printable(stack, true);
      // Where: the command run once more under the memory checker, if any.
      const std::string explained = MemoryChecker::Explain(program, command.Timeout(), request);
      if (!explained.empty()) m_err << "\n" << TextFormat::Printable(explained, true);
      break;
    }
    case ChildRunner::End::TIMED_OUT:
      m_err << "no answer from the module within " << TextFormat::Float(static_cast<float>(command.Timeout()))
            << " s; its process was stopped";
      break;
    case ChildRunner::End::NOT_STARTED:
      m_err << "cannot load it in a process of its own: " << outcome.error;
      break;
  }
  m_err << "\n";
  return FAILED;
}
