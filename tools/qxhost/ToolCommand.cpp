#include "ToolCommand.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "ReportChannel.h"
#include "TextFormat.h"

std::optional<ModuleLibrary> ToolCommand::Load(const std::string& path, std::ostream& err) {
  ModuleLibrary::Error error;
  std::optional<ModuleLibrary> library = ModuleLibrary::Open(path, &error);
  // The text names the path, which may hold anything a file name can.
  if (!library) err << "qxhost: " << TextFormat::Printable(error.text) << "\n";
  return library;
}

ToolCommand::ToolCommand(CLI::App& tool, const char* name, std::string usage, const std::string& description)
    : m_app(tool.add_subcommand(name, description)), m_usage(std::move(usage)) {}

ToolCommand::Argument& ToolCommand::Argument::TypeName(const char* name) {
  m_option->type_name(name);
  return *this;
}

ToolCommand::Argument& ToolCommand::Argument::Required() {
  m_option->required();
  return *this;
}

ToolCommand::Argument& ToolCommand::Argument::Hidden() {
  m_option->group("");
  return *this;
}

ToolCommand::Argument& ToolCommand::Argument::EveryValue() {
  m_option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  return *this;
}

ToolCommand::Argument ToolCommand::Flag(const char* name, bool* target, const char* help) {
  return Argument(m_app->add_flag(name, *target, help));
}

ToolCommand::Argument ToolCommand::Option(const char* name, std::string* target, const char* help) {
  return Argument(m_app->add_option(name, *target, help));
}

ToolCommand::Argument ToolCommand::Option(const char* name, std::vector<std::string>* target,
                                          const char* help) {
  return Argument(m_app->add_option(name, *target, help));
}

void ToolCommand::AddIsolationOptions(double* timeout, bool* in_process) {
  App()
      ->add_option_function<std::string>(
          "--timeout", [timeout](const std::string& text) { *timeout = Seconds("--timeout", text, 86400.0); },
          "time limit for the module's answers (default 10); a module that takes longer is stopped")
      ->type_name("SECONDS");
  App()->add_flag(
      "--in-process", *in_process,
      "load the module in this process (for a debugger; a crash or hang of the module is qxhost's)");
}

// "@qxdone TOKEN CODE OUT-BYTES ERR-BYTES", then both streams' text.
std::string ToolCommand::DoneText(const std::string& token, const Answer& answer) {
  // On a line of its own, whatever a module left unfinished on the channel.
  return "\n@qxdone " + token + " " + std::to_string(answer.code) + " " + std::to_string(answer.out.size()) +
         " " + std::to_string(answer.err.size()) + "\n" + answer.out + answer.err;
}

void ToolCommand::ReportDone(int code, const std::string& out, const std::string& err) const {
  ReportChannel channel;
  if (!channel.Open(m_request.results)) return;
  channel.Write(DoneText(m_request.token, Answer{code, out, err}));
}

bool ToolCommand::ReadDone(const std::string& report, const std::string& token, Answer* answer) {
  const std::string tag = "@qxdone " + token + " ";
  const size_t at = report.find(tag);
  if (at == std::string::npos || report.find(tag, at + 1) != std::string::npos) return false;
  const size_t line_end = report.find('\n', at);
  if (line_end == std::string::npos) return false;
  std::istringstream words(report.substr(at + tag.size(), line_end - at - tag.size()));
  size_t out_size = 0, err_size = 0;
  if (!(words >> answer->code >> out_size >> err_size)) return false;
  const size_t body = line_end + 1;
  if (report.size() - body < out_size || report.size() - body - out_size < err_size) return false;
  answer->out = report.substr(body, out_size);
  answer->err = report.substr(body + out_size, err_size);
  return true;
}

namespace {

bool AllDigits(const std::string& text, size_t from) {
  return text.size() > from && text.find_first_not_of("0123456789", from) == std::string::npos;
}

std::string Bad(const std::string& option, const std::string& text) {
  return "bad " + option.substr(option.find_first_not_of('-')) + " '" + TextFormat::Printable(text) + "': ";
}

}  // namespace

long long ToolCommand::Whole(const std::string& option, const std::string& text, long long min,
                             long long max) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (!AllDigits(text, text[0] == '-' ? 1 : 0) || errno == ERANGE || value < min || value > max)
    throw UsageError(Bad(option, text) + "a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max));
  return value;
}

unsigned long long ToolCommand::Unsigned(const std::string& option, const std::string& text) {
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (!AllDigits(text, 0) || errno == ERANGE)
    throw UsageError(Bad(option, text) + "a whole number from 0 to 18446744073709551615");
  return value;
}

double ToolCommand::Seconds(const std::string& option, const std::string& text, double max) {
  const size_t point = text.find('.');
  const bool digits = point == std::string::npos
                          ? AllDigits(text, 0)
                          : (point == 0 || AllDigits(text.substr(0, point), 0)) && AllDigits(text, point + 1);
  const double value = digits ? std::strtod(text.c_str(), nullptr) : 0.0;
  if (!digits || !(value > 0.0) || value > max)
    throw UsageError(Bad(option, text) + "seconds, more than 0 and at most " +
                     std::to_string(static_cast<long long>(max)));
  return value;
}
