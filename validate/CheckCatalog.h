// Every check the validator runs, in the order it runs them: the library's
// exports first, then the factory, the DSP and GUI dispatchers, the host
// callback, real-time safety and the level converter's oracle.
#ifndef VALIDATE_CHECKCATALOG_H
#define VALIDATE_CHECKCATALOG_H

#include <string>
#include <vector>

#include "ValidationCheck.h"

class CheckCatalog {
 public:
  static const std::vector<ValidationCheck>& All();
  // The check of that name, or null.
  static const ValidationCheck* Find(const std::string& name);
};

#endif  // VALIDATE_CHECKCATALOG_H
