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
  int level = 1;  // the least --strictness that runs it: 1 the contract, 2 the long checks, 3 threads
};

#endif  // VALIDATE_VALIDATIONCHECK_H
