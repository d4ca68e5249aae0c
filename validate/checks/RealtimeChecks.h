// Real-time safety: no heap allocation by the module inside a GUI pin change
// or a DSP process call. Counted in this process while module code runs
// (AllocationCounter); where that cannot be seen the checks skip and say why.
#ifndef VALIDATE_CHECKS_REALTIMECHECKS_H
#define VALIDATE_CHECKS_REALTIMECHECKS_H

#include <vector>

#include "ValidationCheck.h"

class RealtimeChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

 private:
  static CheckResult Gui(CheckContext& context);
  static CheckResult Dsp(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_REALTIMECHECKS_H
