// qxhost validate: runs the validator's checks on module files. With the
// hidden --run-check it is one check's own process instead, started by
// another qxhost validate.
#ifndef TOOLS_QXHOST_VALIDATECOMMAND_H
#define TOOLS_QXHOST_VALIDATECOMMAND_H

#include <string>
#include <vector>

#include "ToolCommand.h"
#include "Validator.h"

class ValidateCommand : public ToolCommand {
 public:
  explicit ValidateCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;
  bool EndsAtOnce() const override { return !m_run_check.empty(); }

 private:
  Validator::Options m_options;
  std::string m_seed, m_size, m_timeout, m_jobs, m_strictness, m_repeat;
  std::string m_run_check;  // a check's own process: the check to run
};

#endif  // TOOLS_QXHOST_VALIDATECOMMAND_H
