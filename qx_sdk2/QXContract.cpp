#include "QXContract.h"

#include <cstdio>
#include <cstdlib>

void QXContract::Fail(const char* expression, const char* file, int line) noexcept {
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
  std::fflush(stderr);
  std::abort();
}
