// Checks of the library as the host loads it: the two exports, unloading and
// loading again, module 0's properties and texts, the refused indices, and
// the time all that takes.
#ifndef VALIDATE_CHECKS_LOADINGCHECKS_H
#define VALIDATE_CHECKS_LOADINGCHECKS_H

#include <vector>

#include "ValidationCheck.h"

class LoadingChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

  // Longest name or id, and longest about text, a host is expected to show.
  static constexpr size_t MAX_NAME = 256;
  static constexpr size_t MAX_ABOUT = 4096;
  // Loading the library and reading module 0: a warning above the first, a
  // failure above the second (seconds).
  static constexpr double SLOW_LOAD = 0.1;
  static constexpr double TOO_SLOW_LOAD = 1.0;

 private:
  static CheckResult Exports(CheckContext& context);
  static CheckResult Reload(CheckContext& context);
  static CheckResult Properties(CheckContext& context);
  static CheckResult Texts(CheckContext& context);
  static CheckResult OtherIndices(CheckContext& context);
  static CheckResult Time(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_LOADINGCHECKS_H
