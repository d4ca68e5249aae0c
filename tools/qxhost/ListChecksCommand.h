// qxhost list-checks: the validator's checks, with what each verifies.
#ifndef TOOLS_QXHOST_LISTCHECKSCOMMAND_H
#define TOOLS_QXHOST_LISTCHECKSCOMMAND_H

#include "ToolCommand.h"

class ListChecksCommand : public ToolCommand {
 public:
  explicit ListChecksCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;
};

#endif  // TOOLS_QXHOST_LISTCHECKSCOMMAND_H
