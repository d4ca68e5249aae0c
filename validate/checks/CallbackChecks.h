// Checks of the module's calls of the host: with two instances of each side
// alive and driven in turn, every call carries the record of the instance the
// host is calling and a known opcode (GUI pin requests a pin of the list), and
// no call carries the record of an instance already closed.
#ifndef VALIDATE_CHECKS_CALLBACKCHECKS_H
#define VALIDATE_CHECKS_CALLBACKCHECKS_H

#include <vector>

#include "ValidationCheck.h"

class CallbackChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

 private:
  static CheckResult Dsp(CheckContext& context);
  static CheckResult Gui(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_CALLBACKCHECKS_H
