// qxhost info: a module's properties and the pin table its DSP instance
// describes.
#ifndef TOOLS_QXHOST_INFOCOMMAND_H
#define TOOLS_QXHOST_INFOCOMMAND_H

#include <string>

#include "ToolCommand.h"

class InfoCommand : public ToolCommand {
 public:
  explicit InfoCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;

 private:
  bool m_json = false;
  std::string m_module;
};

#endif  // TOOLS_QXHOST_INFOCOMMAND_H
