// One episode of `qxhost fuzz`: a run of random host behaviour that the
// format allows, drawn from a seed, on one module in this process. Instances
// are made and closed, opened, told sample rates and block sizes, run block by
// block with events of the host's own, their GUI pins edited under every echo
// policy, and sent opcodes they do not know. The same seed and number of
// steps make the same episode, so a finding replays, and its first steps alone
// are a shorter episode.
#ifndef VALIDATE_FUZZEPISODE_H
#define VALIDATE_FUZZEPISODE_H

#include <cstdint>
#include <functional>
#include <string>

#include "CheckContext.h"
#include "CheckResult.h"

class FuzzEpisode {
 public:
  // `say`, if given, hears each step as it is taken ("step 3: ...").
  FuzzEpisode(CheckContext& context, uint64_t seed, int steps,
              std::function<void(const std::string&)> say = nullptr);
  // Runs the steps. PASS, or FAIL naming the step and what the harness saw
  // broken (a crash or a hang ends the process instead).
  CheckResult Run();

 private:
  CheckContext& m_context;
  uint64_t m_seed;
  int m_steps;
  std::function<void(const std::string&)> m_say;
};

#endif  // VALIDATE_FUZZEPISODE_H
