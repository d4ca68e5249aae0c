#include "ToolCommand.h"

std::optional<ModuleLibrary> ToolCommand::Load(const std::string& path, std::ostream& err) {
  ModuleLibrary::Error error;
  std::optional<ModuleLibrary> library = ModuleLibrary::Open(path, &error);
  if (!library) err << "qxhost: " << error.text << "\n";
  return library;
}
