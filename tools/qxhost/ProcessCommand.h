// qxhost process: runs a module's DSP side over an audio file through the
// reference host, block by block, and writes what its audio outputs give.
#ifndef TOOLS_QXHOST_PROCESSCOMMAND_H
#define TOOLS_QXHOST_PROCESSCOMMAND_H

#include <string>
#include <vector>

#include "ToolCommand.h"

class ProcessCommand : public ToolCommand {
 public:
  explicit ProcessCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;
  // Whether this qxhost reads and writes audio files: built with libsndfile.
  static bool Available();
  // Files longer than this, in seconds of audio, get a progress line.
  static constexpr double PROGRESS_SECONDS = 10.0;

 private:
  std::string m_block_size = "512";
  std::string m_module;
  std::string m_input;
  std::string m_output;
  std::vector<std::string> m_edits;
};

#endif  // TOOLS_QXHOST_PROCESSCOMMAND_H
