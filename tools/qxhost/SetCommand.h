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
  bool Isolated() const override { return !m_in_process; }
  std::string Module() const override { return m_module; }
  double Timeout() const override { return m_timeout; }

  // A decimal number that a float holds (inf and nan included); false and,
  // if `why` is given, the reason for anything else: not decimal, beyond the
  // float range, or a non-zero number that a float would round to 0.
  static bool ParseValue(const std::string& text, double* value, std::string* why = nullptr);

 private:
  bool m_json = false;
  bool m_in_process = false;
  double m_timeout = 10.0;
  std::string m_echo = "none";
  std::string m_module;
  std::vector<std::string> m_edits;
};

#endif  // TOOLS_QXHOST_SETCOMMAND_H
