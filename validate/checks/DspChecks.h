// Checks of the DSP dispatcher: unknown opcodes, the pin list, and the life of
// an instance from creation through open and processing to close.
#ifndef VALIDATE_CHECKS_DSPCHECKS_H
#define VALIDATE_CHECKS_DSPCHECKS_H

#include <cstdint>
#include <vector>

#include "ValidationCheck.h"

class DspChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);
  // The opcodes the sweep sends: the four that do nothing, `size` on each side
  // of the table, and far-away ones. Never the retired 7 and 10, on which a
  // module built with contract checks rightly stops the process.
  static std::vector<int32_t> UnknownOpcodes(int size);

 private:
  static CheckResult Unknown(CheckContext& context);
  static CheckResult PinList(CheckContext& context);
  static CheckResult Lifecycle(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_DSPCHECKS_H
