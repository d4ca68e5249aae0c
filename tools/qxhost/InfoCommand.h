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
  bool Isolated() const override { return !m_in_process; }
  std::string Module() const override { return m_module; }
  double Timeout() const override { return m_timeout; }

 private:
  bool m_json = false;
  bool m_in_process = false;
  double m_timeout = 10.0;
  std::string m_module;
};

#endif  // TOOLS_QXHOST_INFOCOMMAND_H
