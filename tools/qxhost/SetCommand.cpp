#include "SetCommand.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "JsonText.h"
#include "ModuleSession.h"
#include "TextFormat.h"

namespace {

GuiHost::Echo EchoMode(const std::string& mode) {
  if (mode == "none") return GuiHost::Echo::NONE;
  if (mode == "immediate") return GuiHost::Echo::IMMEDIATE;
  if (mode == "deferred") return GuiHost::Echo::DEFERRED;
  throw ToolCommand::UsageError("unknown echo mode '" + mode + "'");
}

// A pin's value as the host holds it: the float, or the integer's digits.
Json PinValue(const ModuleSession& session, int32_t index) {
  const double value = session.Value(index);
  if (session.IsFloat(index)) return static_cast<float>(value);
  return static_cast<int64_t>(value);
}

std::string PinText(const ModuleSession& session, int32_t index) {
  const double value = session.Value(index);
  return session.IsFloat(index) ? TextFormat::Float(static_cast<float>(value))
                                : std::to_string(static_cast<int64_t>(value));
}

}  // namespace

SetCommand::SetCommand(CLI::App& tool)
    : ToolCommand(tool, "set",
                  "qxhost set [--echo none|immediate|deferred] [--json] [--timeout SECONDS] [--in-process]\n"
                  "                  MODULE PIN=VALUE...",
                  "Loads MODULE, creates and opens a DSP and a GUI instance, then applies each edit as the\n"
                  "host does: stores the pin's value and reports the change to the GUI instance. Prints\n"
                  "every pin after each edit.") {
  Option("--echo", &m_echo,
         "when the host reports the instance's own writes back to it: none (default),\n"
         "immediate (inside the write), deferred (after it)")
      .TypeName("MODE");
  Flag("--json", &m_json, "machine-readable output");
  AddIsolationOptions(&m_timeout, &m_in_process);
  Option("MODULE", &m_module, "the module file").Required();
  Option("PIN=VALUE", &m_edits,
         "PIN by name or index; VALUE a decimal number, inf or nan\n"
         "(integer pins take the whole part)");
}

bool SetCommand::ParseValue(const std::string& text, double* value, std::string* why) {
  const auto refuse = [why](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return false;
  };
  // [+-] then inf, nan, or digits with an optional point and exponent.
  size_t at = text.size() > 0 && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  const std::string word = text.substr(at);
  if (word == "inf" || word == "nan") {
    *value = std::strtod(text.c_str(), nullptr);
    return true;
  }
  const auto digits = [&text, &at]() {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - from;
  };
  size_t mantissa = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    mantissa += digits();
  }
  bool decimal = mantissa > 0;
  if (decimal && at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    decimal = digits() > 0;
  }
  if (!decimal || at != text.size()) return refuse("expected PIN=VALUE with a decimal VALUE");
  *value = std::strtod(text.c_str(), nullptr);
  const auto single = static_cast<float>(*value);
  if (std::isinf(single)) return refuse(TextFormat::Printable(text) + " is beyond the range of a float");
  if (single == 0.0f && text.find_first_of("123456789") < text.find_first_of("eE"))
    return refuse(TextFormat::Printable(text) + " is too small for a float: it would be 0");
  return true;
}

int SetCommand::Run(std::ostream& out, std::ostream& err) {
  const GuiHost::Echo echo = EchoMode(m_echo);
  // "set Voltage=1 module.qxm": the order is the other way round.
  if (m_module.find('=') != std::string::npos && !m_edits.empty() &&
      m_edits.back().find('=') == std::string::npos)
    throw UsageError("'" + TextFormat::Printable(m_module) + "' is an edit and '" +
                     TextFormat::Printable(m_edits.back()) +
                     "' looks like the module: MODULE comes first, then PIN=VALUE...");
  if (m_edits.empty()) throw UsageError("no PIN=VALUE edit");
  // Check the edits' shape before loading anything.
  std::vector<std::pair<std::string, double>> parsed;
  for (const std::string& edit : m_edits) {
    const size_t eq = edit.find('=');
    double value = 0;
    std::string why = "expected PIN=VALUE with a decimal VALUE";
    if (eq == std::string::npos || eq == 0 || !ParseValue(edit.substr(eq + 1), &value, &why))
      throw UsageError("bad edit '" + TextFormat::Printable(edit) + "': " + why);
    parsed.emplace_back(edit.substr(0, eq), value);
  }

  std::optional<ModuleLibrary> library = Load(m_module, err);
  if (!library) return FAILED;
  std::string error;
  std::unique_ptr<ModuleSession> session = ModuleSession::Start(*library, echo, &error);
  if (!session) {
    err << "qxhost: " << error << "\n";
    return FAILED;
  }
  std::vector<int32_t> indices;
  for (const auto& edit : parsed) {
    const int32_t index = session->FindPin(edit.first);
    if (index < 0)
      throw UsageError("no pin '" + TextFormat::Printable(edit.first) + "' in " +
                       TextFormat::Printable(m_module));
    indices.push_back(index);
  }

  const auto& pins = session->Pins();
  Json edits = Json::array();
  for (size_t e = 0; e < parsed.size(); ++e) {
    const int32_t index = indices[e];
    const std::string& name = pins[static_cast<size_t>(index)].name;
    // The edit as requested (what the host stores), whatever echoes make of it.
    session->Edit(index, parsed[e].second);
    const bool is_float = session->IsFloat(index);
    const auto single = static_cast<float>(parsed[e].second);
    const int32_t whole = ModuleSession::Whole(parsed[e].second);
    const Json requested = is_float ? Json(single) : Json(whole);
    if (m_json) {
      Json values = Json::array();
      for (const auto& pin : pins)
        values.push_back(
            {{"index", pin.index}, {"name", pin.name}, {"value", PinValue(*session, pin.index)}});
      edits.push_back({{"pin", name}, {"index", index}, {"value", requested}, {"pins", values}});
      continue;
    }
    out << "set " << TextFormat::Printable(name) << " = "
        << (is_float ? TextFormat::Float(single) : std::to_string(whole)) << "\n";
    for (const auto& pin : pins) {
      std::ostringstream line;
      line << "  " << std::setw(3) << pin.index << "  " << std::left << std::setw(12)
           << TextFormat::Printable(pin.name) << " " << PinText(*session, pin.index) << "\n";
      out << line.str();
    }
  }
  if (m_json) {
    const char* name = library->Properties().name;
    out << JsonText::Line(Json{{"module", name != nullptr ? name : ""}, {"edits", edits}}) << "\n";
  }
  return OK;
}
