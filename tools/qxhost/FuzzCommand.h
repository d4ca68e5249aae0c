// qxhost fuzz: random host behaviour on a module for a while, each episode in
// a process of its own; a finding is printed with its shortest replay. With
// the hidden --run-episode it is one episode's own process instead.
#ifndef TOOLS_QXHOST_FUZZCOMMAND_H
#define TOOLS_QXHOST_FUZZCOMMAND_H

#include <string>

#include "Fuzzer.h"
#include "ToolCommand.h"

class FuzzCommand : public ToolCommand {
 public:
  explicit FuzzCommand(CLI::App& tool);
  int Run(std::ostream& out, std::ostream& err) override;
  bool EndsAtOnce() const override { return m_run_episode; }

 private:
  Fuzzer::Options m_options;
  std::string m_duration, m_jobs, m_seed, m_steps, m_timeout;
  bool m_replay = false;
  bool m_run_episode = false;
};

#endif  // TOOLS_QXHOST_FUZZCOMMAND_H
