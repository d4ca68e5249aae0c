// Checks of the library as the host loads it: the two exports, unloading and
// loading again, module 0's properties and texts, and the refused indices.
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

 private:
  static CheckResult Exports(CheckContext& context);
  static CheckResult Reload(CheckContext& context);
  static CheckResult Properties(CheckContext& context);
  static CheckResult Texts(CheckContext& context);
  static CheckResult OtherIndices(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_LOADINGCHECKS_H
