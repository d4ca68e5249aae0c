// One named check of the validator: what it is called, what it verifies, and
// the function that runs it on a module.
#ifndef VALIDATE_VALIDATIONCHECK_H
#define VALIDATE_VALIDATIONCHECK_H

#include "CheckContext.h"
#include "CheckResult.h"

struct ValidationCheck {
  const char* name;     // "group.rule"
  const char* summary;  // one line for list-checks
  bool randomised;      // draws from the run's seed
  bool sized;           // does more work for a larger --size
  CheckResult (*run)(CheckContext& context);
};

#endif  // VALIDATE_VALIDATIONCHECK_H
