#include "QXHostTool.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "CheckCatalog.h"
#include "TextFormat.h"
#include "ModuleLibrary.h"
#include "ModuleSession.h"
#include "ValidationReport.h"
#include "Validator.h"

namespace {

const char kUsage[] = "usage: qxhost [--help] COMMAND [--help] ...";
const char kInfoUsage[] = "usage: qxhost info [--json] MODULE";
const char kSetUsage[] =
    "usage: qxhost set [--echo none|immediate|deferred] [--json] MODULE PIN=VALUE...";

const char kHelp[] =
    "qxhost: load a module library of this host format and drive it as the host does.\n"
    "\n"
    "commands:\n"
    "  info MODULE              the module's properties and its pin table\n"
    "  set MODULE PIN=VALUE...  open a DSP and a GUI instance, apply each edit, print every pin\n"
    "  validate MODULE...       run the checks of the host contract on each module\n"
    "  list-checks              the checks validate runs\n"
    "\n"
    "'qxhost COMMAND --help' describes a command. Exit status: 0 done, 1 the module failed,\n"
    "2 bad usage.\n";
const char kInfoHelp[] =
    "Loads MODULE, prints its properties (name, id, about text, flags, framework version)\n"
    "and the pins its DSP instance describes.\n"
    "  --json   machine-readable output\n";
const char kSetHelp[] =
    "Loads MODULE, creates and opens a DSP and a GUI instance, then applies each edit as the\n"
    "host does: stores the pin's value and reports the change to the GUI instance. Prints\n"
    "every pin after each edit.\n"
    "  PIN=VALUE     PIN by name or index; VALUE a decimal number, inf or nan\n"
    "                (integer pins take the whole part)\n"
    "  --echo MODE   when the host reports the instance's own writes back to it:\n"
    "                none (default), immediate (inside the write), deferred (after it)\n"
    "  --json        machine-readable output\n";

const char kValidateUsage[] =
    "usage: qxhost validate [--include REGEX] [--exclude REGEX] [--seed N] [--size N] [--timeout SECONDS]\n"
    "                       [--jobs N] [--only-failed] [--json] [--junit FILE] [--trace FILE] [--in-process]\n"
    "                       MODULE...";
const char kListChecksUsage[] = "usage: qxhost list-checks";
const char kValidateHelp[] =
    "Runs the checks of the host contract (see 'qxhost list-checks') on each MODULE, each check in a\n"
    "child process with a time limit, and reports it as pass, warn, skip, fail, crash (with the\n"
    "signal or exception) or timeout. A run ends with one summary line.\n"
    "  --include REGEX   only the checks whose names match (loading.exports always runs)\n"
    "  --exclude REGEX   not the checks whose names match\n"
    "  --seed N          seed of the randomised checks (printed; the same seed repeats a run)\n"
    "  --size N          work of the long-running checks: opcodes swept, edits, blocks (default 64)\n"
    "  --timeout SECONDS time limit of each check (default 10)\n"
    "  --jobs N          checks run side by side (default: one per processor)\n"
    "  --only-failed     print only the checks that failed, crashed or timed out\n"
    "  --json            the report as JSON on standard output (the summary line goes to stderr)\n"
    "  --junit FILE      also write the report as JUnit XML\n"
    "  --trace FILE      every call between host and module, both directions, as JSON lines\n"
    "  --in-process      run the checks in this process (for a debugger; a crash ends the run)\n"
    "Exit status: 0 all passed (warnings and skips allowed), 1 a check failed, crashed or timed\n"
    "out, 2 bad usage or no loadable module.\n";
const char kListChecksHelp[] = "Lists the checks of 'qxhost validate': name, kind and what each verifies.\n";

// JSON has no infinities or NaN: those travel as strings.
std::string JsonNumber(const std::string& formatted) {
  const bool special = formatted == "inf" || formatted == "-inf" || formatted == "nan";
  return special ? "\"" + formatted + "\"" : formatted;
}

const char* Direction(int32_t direction) {
  return direction == DR_IN ? "in" : direction == DR_OUT ? "out" : "?";
}

const char* DataType(int32_t datatype) {
  switch (datatype) {
    case DT_SHORT: return "short";
    case DT_BOOL: return "bool";
    case DT_FSAMPLE: return "audio";
    case DT_FLOAT: return "float";
    case DT_INT: return "int";
    default: return "other";
  }
}

std::string Flags(int32_t flags) {
  static const struct {
    int32_t bit;
    const char* name;
  } NAMES[] = {{IO_REPEATING, "repeating"},
                {IO_PRIVATE, "private"},
                {IO_UI_COMMUNICATION, "ui-communication"},
                {IO_UI_DSP_SHARED, "ui-dsp-shared"},
                {IO_PATCH_STORE, "patch-store"}};
  std::string text;
  for (const auto& n : NAMES) {
    if (flags & n.bit) text += (text.empty() ? "" : ",") + std::string(n.name);
  }
  return text.empty() ? "-" : text;
}

std::optional<ModuleLibrary> Load(const std::string& path, std::ostream& err) {
  ModuleLibrary::Error error;
  std::optional<ModuleLibrary> library = ModuleLibrary::Open(path, &error);
  if (!library) err << "qxhost: " << error.text << "\n";
  return library;
}

std::string PinValue(const ModuleSession& session, int32_t index) {
  const double value = session.Value(index);
  return session.IsFloat(index) ? TextFormat::Float(static_cast<float>(value))
                                : std::to_string(static_cast<int64_t>(value));
}

}  // namespace

bool QXHostTool::ParseValue(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return *end == '\0';
}

int QXHostTool::Usage(const std::string& command, const std::string& problem) {
  m_err << "qxhost: " << problem << "\n"
        << (command == "info"          ? kInfoUsage
            : command == "set"         ? kSetUsage
            : command == "validate"    ? kValidateUsage
            : command == "list-checks" ? kListChecksUsage
                                       : kUsage)
        << "\n";
  return USAGE;
}

int QXHostTool::Help(const std::string& command) {
  if (command == "info") {
    m_out << kInfoUsage << "\n" << kInfoHelp;
  } else if (command == "set") {
    m_out << kSetUsage << "\n" << kSetHelp;
  } else if (command == "validate") {
    m_out << kValidateUsage << "\n" << kValidateHelp;
  } else if (command == "list-checks") {
    m_out << kListChecksUsage << "\n" << kListChecksHelp;
  } else {
    m_out << kUsage << "\n" << kHelp;
  }
  return OK;
}

int QXHostTool::Run(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("", "no command");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help")
    return Help(args.size() > 1 ? args[1] : "");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (arg == "--help" || arg == "-h") return Help(command);
  }
  if (command == "info") return Info(rest);
  if (command == "set") return Set(rest);
  if (command == "validate") return Validate(rest);
  if (command == "list-checks") return ListChecks(rest);
  return Usage("", "unknown command '" + command + "'");
}

int QXHostTool::Info(const std::vector<std::string>& args) {
  bool json = false;
  std::string path;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("info", "unknown option '" + arg + "'");
    } else if (path.empty()) {
      path = arg;
    } else {
      return Usage("info", "one MODULE only");
    }
  }
  if (path.empty()) return Usage("info", "no MODULE");

  std::optional<ModuleLibrary> library = Load(path, m_err);
  if (!library) return FAILED;
  std::vector<ModuleSession::Pin> pins;
  std::string error;
  if (!ModuleSession::DescribePins(*library, &pins, &error)) {
    m_err << "qxhost: " << error << "\n";
    return FAILED;
  }
  const QXModuleProperties& p = library->Properties();
  const std::string name = p.name ? p.name : "", id = p.id ? p.id : "", about = p.about ? p.about : "";
  if (json) {
    m_out << "{\"name\": " << ValidationReport::JsonString(name) << ", \"id\": " << ValidationReport::JsonString(id)
          << ", \"about\": " << ValidationReport::JsonString(about) << ", \"flags\": " << p.flags
          << ", \"sdk_version\": " << p.sdk_version << ", \"pins\": [";
    for (size_t i = 0; i < pins.size(); ++i) {
      m_out << (i ? ", " : "") << "{\"index\": " << pins[i].index << ", \"name\": " << ValidationReport::JsonString(pins[i].name)
            << ", \"direction\": \"" << Direction(pins[i].direction) << "\", \"datatype\": \""
            << DataType(pins[i].datatype) << "\", \"flags\": " << pins[i].flags << "}";
    }
    m_out << "]}\n";
    return OK;
  }
  m_out << "name:        " << name << "\n"
        << "id:          " << id << "\n"
        << "flags:       " << p.flags << "\n"
        << "sdk version: " << p.sdk_version << "\n"
        << "about:\n";
  size_t start = 0;
  while (start <= about.size()) {
    const size_t end = about.find('\n', start);
    const std::string line = about.substr(start, end - start);
    m_out << (line.empty() ? "" : "  ") << line << "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  m_out << "pins:\n";
  for (const auto& pin : pins) {
    char line[160];
    std::snprintf(line, sizeof line, "  %3d  %-12s %-4s %-6s %s\n", pin.index, pin.name.c_str(),
                  Direction(pin.direction), DataType(pin.datatype), Flags(pin.flags).c_str());
    m_out << line;
  }
  return OK;
}

int QXHostTool::Set(const std::vector<std::string>& args) {
  bool json = false;
  GuiHost::Echo echo = GuiHost::Echo::NONE;
  std::string path;
  std::vector<std::string> edits;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--echo" || arg.rfind("--echo=", 0) == 0) {
      std::string mode;
      if (arg == "--echo") {
        if (i + 1 >= args.size()) return Usage("set", "--echo needs a mode");
        mode = args[++i];
      } else {
        mode = arg.substr(7);
      }
      if (mode == "none") {
        echo = GuiHost::Echo::NONE;
      } else if (mode == "immediate") {
        echo = GuiHost::Echo::IMMEDIATE;
      } else if (mode == "deferred") {
        echo = GuiHost::Echo::DEFERRED;
      } else {
        return Usage("set", "unknown echo mode '" + mode + "'");
      }
    } else if (!arg.empty() && arg[0] == '-' && arg.find('=') == std::string::npos) {
      return Usage("set", "unknown option '" + arg + "'");
    } else if (path.empty()) {
      path = arg;
    } else {
      edits.push_back(arg);
    }
  }
  if (path.empty()) return Usage("set", "no MODULE");
  if (edits.empty()) return Usage("set", "no PIN=VALUE edit");
  // Check the edits' shape before loading anything.
  std::vector<std::pair<std::string, double>> parsed;
  for (const std::string& edit : edits) {
    const size_t eq = edit.find('=');
    double value = 0;
    if (eq == std::string::npos || eq == 0 || !ParseValue(edit.substr(eq + 1), &value))
      return Usage("set", "bad edit '" + edit + "': expected PIN=VALUE with a decimal VALUE");
    parsed.emplace_back(edit.substr(0, eq), value);
  }

  std::optional<ModuleLibrary> library = Load(path, m_err);
  if (!library) return FAILED;
  std::string error;
  std::unique_ptr<ModuleSession> session = ModuleSession::Start(*library, echo, &error);
  if (!session) {
    m_err << "qxhost: " << error << "\n";
    return FAILED;
  }
  std::vector<int32_t> indices;
  for (const auto& edit : parsed) {
    const int32_t index = session->FindPin(edit.first);
    if (index < 0) return Usage("set", "no pin '" + edit.first + "' in " + path);
    indices.push_back(index);
  }

  const auto& pins = session->Pins();
  if (json) m_out << "{\"module\": " << ValidationReport::JsonString(library->Properties().name ? library->Properties().name : "")
                  << ", \"edits\": [";
  for (size_t e = 0; e < parsed.size(); ++e) {
    const int32_t index = indices[e];
    session->Edit(index, parsed[e].second);
    const std::string edited = PinValue(*session, index);
    if (json) {
      m_out << (e ? ", " : "") << "{\"pin\": " << ValidationReport::JsonString(pins[static_cast<size_t>(index)].name)
            << ", \"index\": " << index << ", \"value\": " << JsonNumber(edited) << ", \"pins\": [";
      for (size_t i = 0; i < pins.size(); ++i) {
        m_out << (i ? ", " : "") << "{\"index\": " << pins[i].index
              << ", \"name\": " << ValidationReport::JsonString(pins[i].name)
              << ", \"value\": " << JsonNumber(PinValue(*session, pins[i].index)) << "}";
      }
      m_out << "]}";
    } else {
      m_out << "set " << pins[static_cast<size_t>(index)].name << " = " << edited << "\n";
      for (const auto& pin : pins) {
        char line[160];
        std::snprintf(line, sizeof line, "  %3d  %-12s %s\n", pin.index, pin.name.c_str(),
                      PinValue(*session, pin.index).c_str());
        m_out << line;
      }
    }
  }
  if (json) m_out << "]}\n";
  return OK;
}

int QXHostTool::ListChecks(const std::vector<std::string>& args) {
  if (!args.empty()) return Usage("list-checks", "no arguments expected");
  for (const ValidationCheck& check : CheckCatalog::All()) {
    const std::string kind = std::string(check.randomised ? "random" : "") +
                             (check.randomised && check.sized ? "," : "") + (check.sized ? "sized" : "");
    char line[96];
    std::snprintf(line, sizeof line, "%-26s %-13s ", check.name, kind.empty() ? "-" : kind.c_str());
    m_out << line << check.summary << "\n";
  }
  return OK;
}

int QXHostTool::Validate(const std::vector<std::string>& args) {
  Validator::Options options;
  std::string run_check;
  bool modules_only = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (modules_only || arg.empty() || arg[0] != '-') {
      options.modules.push_back(arg);
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    std::string value;
    const bool takes_value = name == "--include" || name == "--exclude" || name == "--seed" || name == "--size" ||
                             name == "--jobs" || name == "--timeout" || name == "--junit" || name == "--trace" || name == "--run-check";
    if (takes_value) {
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return Usage("validate", name + " needs a value");
      }
    } else if (eq != std::string::npos) {
      return Usage("validate", "unknown option '" + arg + "'");
    }
    char* end = nullptr;
    if (arg == "--") {
      modules_only = true;
    } else if (name == "--only-failed") {
      options.only_failed = true;
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--in-process") {
      options.in_process = true;
    } else if (name == "--include") {
      options.include = value;
    } else if (name == "--exclude") {
      options.exclude = value;
    } else if (name == "--junit") {
      options.junit = value;
    } else if (name == "--trace") {
      options.trace = value;
    } else if (name == "--run-check") {
      run_check = value;
    } else if (name == "--seed") {
      options.seed = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || value[0] == '-') return Usage("validate", "bad seed '" + value + "'");
      options.seed_given = true;
    } else if (name == "--size") {
      const long size = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || size < 1 || size > 1000000)
        return Usage("validate", "bad size '" + value + "': a whole number from 1 to 1000000");
      options.size = static_cast<int>(size);
    } else if (name == "--jobs") {
      const long jobs = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || jobs < 1 || jobs > 64)
        return Usage("validate", "bad jobs '" + value + "': a whole number from 1 to 64");
      options.jobs = static_cast<int>(jobs);
    } else if (name == "--timeout") {
      options.timeout = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(options.timeout > 0.0) || options.timeout > 86400.0)
        return Usage("validate", "bad timeout '" + value + "': seconds, more than 0");
    } else {
      return Usage("validate", "unknown option '" + arg + "'");
    }
  }
  if (options.modules.empty()) return Usage("validate", "no MODULE");
  if (!run_check.empty()) {
    // A check's own process: run it, print its result line, and end at once,
    // so that what the module leaves behind at exit is not the check's result.
    if (options.modules.size() != 1) return Usage("validate", "--run-check takes one MODULE");
    const int code = Validator::RunChild(run_check, options.modules[0], options.seed, options.size, options.trace,
                                         m_out);
    m_out.flush();
    m_err.flush();
    std::fflush(nullptr);
    std::_Exit(code);
  }
  std::vector<const ValidationCheck*> checks;
  std::string error;
  if (!Validator::Select(options, &checks, &error)) return Usage("validate", error);
  Validator validator(options, m_out, m_err);
  return validator.Run();
}
