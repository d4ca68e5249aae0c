#include "CheckResult.h"

namespace {
const struct {
  CheckStatus status;
  const char* name;
} NAMES[] = {{CheckStatus::PASS, "pass"},      {CheckStatus::WARN, "warn"},
             {CheckStatus::SKIP, "skip"},      {CheckStatus::INAPPLICABLE, "inapplicable"},
             {CheckStatus::FAIL, "fail"},      {CheckStatus::CRASH, "crash"},
             {CheckStatus::TIMEOUT, "timeout"}};
}  // namespace

const char* CheckResult::StatusName(CheckStatus status) {
  for (const auto& n : NAMES) {
    if (n.status == status) return n.name;
  }
  return "?";
}

bool CheckResult::ParseStatus(const std::string& name, CheckStatus* status) {
  for (const auto& n : NAMES) {
    if (name == n.name) {
      *status = n.status;
      return true;
    }
  }
  return false;
}
