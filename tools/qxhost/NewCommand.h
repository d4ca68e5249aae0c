// qxhost new: writes a module project into a new or empty folder: the CMake
// project on the installed package, a DSP side and a GUI side sharing a
// control pin between one audio input and one audio output, the exports, a
// README with the next commands, a test sound and a CTest test that runs
// validate and process on the module. It writes no file that exists.
#ifndef TOOLS_QXHOST_NEWCOMMAND_H
#define TOOLS_QXHOST_NEWCOMMAND_H

#include <string>
#include <utility>
#include <vector>

#include "ToolCommand.h"

class NewCommand : public ToolCommand {
 public:
  explicit NewCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;
  // Whether NAME may name a module: a C++ identifier of letters, digits and
  // underscores, starting with a letter, at most 64 characters.
  static bool ValidName(const std::string& name);
  // The project's files for module NAME: relative path and contents.
  // `sdk` is the SDK's folder as the README names it.
  static std::vector<std::pair<std::string, std::string> > Files(const std::string& name,
                                                                 const std::string& sdk);

 private:
  std::string m_name;
  std::string m_folder;
};

#endif  // TOOLS_QXHOST_NEWCOMMAND_H
