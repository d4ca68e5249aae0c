// Checks of makeModule: the records of both instance types, the refused types
// and indices, and a DSP instance made without a host callback.
#ifndef VALIDATE_CHECKS_FACTORYCHECKS_H
#define VALIDATE_CHECKS_FACTORYCHECKS_H

#include <vector>

#include "ValidationCheck.h"

class FactoryChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

 private:
  static CheckResult Records(CheckContext& context);
  static CheckResult Refusals(CheckContext& context);
  static CheckResult NoCallback(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_FACTORYCHECKS_H
