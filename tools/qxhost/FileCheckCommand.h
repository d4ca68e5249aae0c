// qxhost inspect: a module file read without loading or running it (a PE32 or
// ELF library, ModuleFile), checked against the rules of the format (machine,
// exactly the two exports, only system libraries imported) and, on request,
// against those of a release (stripped and linked to its debug file, a
// version resource of a given version, no folder of the build machine named).
#ifndef TOOLS_QXHOST_FILECHECKCOMMAND_H
#define TOOLS_QXHOST_FILECHECKCOMMAND_H

#include <string>
#include <vector>

#include "ToolCommand.h"

class FileCheckCommand : public ToolCommand {
 public:
  explicit FileCheckCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;

 private:
  bool m_json = false;
  bool m_stripped = false;
  std::string m_version;
  std::vector<std::string> m_no_paths;
  std::string m_module;
};

#endif  // TOOLS_QXHOST_FILECHECKCOMMAND_H
