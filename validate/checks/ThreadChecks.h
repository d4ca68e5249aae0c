// A module's instances on several threads at once, as a host may call them:
// each DSP instance on a thread of its own, the GUI instances on another (GUI
// calls come one at a time, and an instance is called from one thread at a
// time). Each instance must give what it gives alone.
#ifndef VALIDATE_CHECKS_THREADCHECKS_H
#define VALIDATE_CHECKS_THREADCHECKS_H

#include <vector>

#include "ValidationCheck.h"

class ThreadChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

  // DSP instances run side by side, each on its own thread.
  static constexpr int DSP_THREADS = 3;

 private:
  static CheckResult Instances(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_THREADCHECKS_H
