#include "InfoCommand.h"

#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "JsonText.h"
#include "ModuleSession.h"
#include "TextFormat.h"

namespace {

const char* Direction(int32_t direction) {
  return direction == DR_IN ? "in" : direction == DR_OUT ? "out" : "?";
}

const char* DataType(int32_t datatype) {
  switch (datatype) {
    case DT_SHORT:
      return "short";
    case DT_BOOL:
      return "bool";
    case DT_FSAMPLE:
      return "audio";
    case DT_FLOAT:
      return "float";
    case DT_INT:
      return "int";
    default:
      return "other";
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

std::string Text(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

InfoCommand::InfoCommand(CLI::App& tool)
    : ToolCommand(tool, "info", "qxhost info [--json] [--timeout SECONDS] [--in-process] MODULE",
                  "Loads MODULE, prints its properties (name, id, about text, flags, framework version)\n"
                  "and the pins its DSP instance describes.") {
  Flag("--json", &m_json, "machine-readable output");
  AddIsolationOptions(&m_timeout, &m_in_process);
  Option("MODULE", &m_module, "the module file").Required();
}

int InfoCommand::Run(std::ostream& out, std::ostream& err) {
  std::optional<ModuleLibrary> library = Load(m_module, err);
  if (!library) return FAILED;
  std::vector<ModuleSession::Pin> pins;
  std::string error;
  if (!ModuleSession::DescribePins(*library, &pins, &error)) {
    err << "qxhost: " << error << "\n";
    return FAILED;
  }
  const QXModuleProperties& p = library->Properties();
  const std::string about = Text(p.about);
  if (m_json) {
    Json list = Json::array();
    for (const auto& pin : pins) {
      list.push_back({{"index", pin.index},
                      {"name", pin.name},
                      {"direction", Direction(pin.direction)},
                      {"datatype", DataType(pin.datatype)},
                      {"flags", pin.flags}});
    }
    const Json info = {
        {"name", Text(p.name)},         {"id", Text(p.id)}, {"about", about}, {"flags", p.flags},
        {"sdk_version", p.sdk_version}, {"pins", list}};
    out << JsonText::Line(info) << "\n";
    return OK;
  }
  out << "name:        " << TextFormat::Printable(Text(p.name)) << "\n"
      << "id:          " << TextFormat::Printable(Text(p.id)) << "\n"
      << "flags:       " << p.flags << "\n"
      << "sdk version: " << p.sdk_version << "\n"
      << "about:\n";
  size_t start = 0;
  while (start <= about.size()) {
    const size_t end = about.find('\n', start);
    const std::string line = about.substr(start, end - start);
    out << (line.empty() ? "" : "  ") << TextFormat::Printable(line) << "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  out << "pins:\n";
  for (const auto& pin : pins) {
    // Built as a string: a name of any length stays whole, on its line.
    std::ostringstream line;
    line << "  " << std::setw(3) << pin.index << "  " << std::left << std::setw(12)
         << TextFormat::Printable(pin.name) << " " << std::setw(4) << Direction(pin.direction) << " "
         << std::setw(6) << DataType(pin.datatype) << " " << Flags(pin.flags) << "\n";
    out << line.str();
  }
  return OK;
}
