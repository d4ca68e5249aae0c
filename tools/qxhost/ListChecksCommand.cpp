#include "ListChecksCommand.h"

#include <cstdio>

#include "CheckCatalog.h"

ListChecksCommand::ListChecksCommand(CLI::App& tool)
    : ToolCommand(tool, "list-checks", "qxhost list-checks",
                  "Lists the checks of 'qxhost validate': name, the strictness that runs it, kind and what\n"
                  "each verifies.") {}

int ListChecksCommand::Run(std::ostream& out, std::ostream& /*err*/) {
  for (const ValidationCheck& check : CheckCatalog::All()) {
    const std::string kind = std::string(check.randomised ? "random" : "") +
                             (check.randomised && check.sized ? "," : "") + (check.sized ? "sized" : "");
    char line[96];
    std::snprintf(line, sizeof line, "%-26s %d  %-13s ", check.name, check.level,
                  kind.empty() ? "-" : kind.c_str());
    out << line << check.summary << "\n";
  }
  return OK;
}
