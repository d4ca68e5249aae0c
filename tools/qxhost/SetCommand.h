// qxhost set: opens a DSP and a GUI instance of a module, applies each pin
// edit as the host does and prints every pin after each.
#ifndef TOOLS_QXHOST_SETCOMMAND_H
#define TOOLS_QXHOST_SETCOMMAND_H

#include <string>
#include <vector>

#include "ToolCommand.h"

class SetCommand : public ToolCommand {
 public:
  explicit SetCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;

  // A whole decimal float, inf and nan included; false for anything else.
  static bool ParseValue(const std::string& text, double* value);

 private:
  bool m_json = false;
  std::string m_echo = "none";
  std::string m_module;
  std::vector<std::string> m_edits;
};

#endif  // TOOLS_QXHOST_SETCOMMAND_H
