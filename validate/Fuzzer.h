// `qxhost fuzz`: runs episodes of random host behaviour (FuzzEpisode) on a
// module, each in a child process of its own, side by side, until the time is
// up or one of them ends in a finding: a crash, a hang, or a rule the harness
// saw broken. A finding is cut down to the fewest first steps of its episode
// that still give it, and printed with the command that replays it.
#ifndef VALIDATE_FUZZER_H
#define VALIDATE_FUZZER_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "CheckResult.h"
#include "ChildRequest.h"
#include "ChildRunner.h"

class Fuzzer {
 public:
  // Exit codes.
  enum { CLEAN = 0, FOUND = 1, USAGE = 2 };

  struct Options {
    std::string module;
    double duration = 20.0;  // seconds of episodes started
    int jobs = 0;            // episodes side by side; 0: one per processor
    uint64_t seed = 0;       // of the first episode; the next ones count up
    bool seed_given = false;
    int steps = 200;        // in an episode
    double timeout = 10.0;  // seconds for one episode
    std::string program;    // run for each episode; empty: this program
  };

  Fuzzer(Options options, std::ostream& out, std::ostream& err);
  // Episodes until the time is up or a finding; answers the exit code.
  int Run();
  // The one episode of the options' seed and steps, each step said as it is
  // taken; FOUND if it ends in a finding.
  int Replay();
  // The child's side: runs one episode here and reports its result on the
  // channel numbered `channel`; with `say`, each step on `out`.
  static int RunEpisode(const std::string& module, uint64_t seed, int steps, const ChildRequest& request,
                        bool say, std::ostream& out);

 private:
  CheckResult Episode(uint64_t seed, int steps, bool say, std::string* steps_said,
                      ChildRunner::End* end = nullptr);
  ChildRequest Request(uint64_t seed, int steps, bool say) const;

  Options m_options;
  std::ostream& m_out;
  std::ostream& m_err;
  std::string m_token;
  std::string m_module_path;  // the module as a file, resolved before any episode
};

#endif  // VALIDATE_FUZZER_H
