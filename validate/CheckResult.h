// The outcome of one validation check on one module.
#ifndef VALIDATE_CHECKRESULT_H
#define VALIDATE_CHECKRESULT_H

#include <string>
#include <utility>

enum class CheckStatus {
  PASS,
  WARN,          // passed, with a remark the author should read
  SKIP,          // cannot be measured here, or with what the module gave
  INAPPLICABLE,  // asks what this module has no part of (in --json with the reason; not in the text report)
  FAIL,          // the module broke a rule; the message names the call, what was expected and what came
  CRASH,         // the check's process died: a signal, an exception or an exit without a result
  TIMEOUT        // the check's process gave no result within the time limit
};

struct CheckResult {
  CheckStatus status = CheckStatus::PASS;
  std::string message;
  // What the check's process printed on its error stream (the module's output).
  std::string output;
  double seconds = 0.0;
  // The module cannot be used any further (not loadable, or an export is
  // missing): its remaining checks are skipped.
  bool stop = false;
  // The system loader refused the file (or there is none).
  bool unloadable = false;

  static CheckResult Pass(std::string text = "") { return Make(CheckStatus::PASS, std::move(text)); }
  static CheckResult Warn(std::string text) { return Make(CheckStatus::WARN, std::move(text)); }
  static CheckResult Skip(std::string text) { return Make(CheckStatus::SKIP, std::move(text)); }
  // `why`: what the module lacks.
  static CheckResult Inapplicable(std::string why) { return Make(CheckStatus::INAPPLICABLE, std::move(why)); }
  static CheckResult Fail(std::string text) { return Make(CheckStatus::FAIL, std::move(text)); }
  // "CALL: expected EXPECTED, got GOT"
  static CheckResult Fail(const std::string& call, const std::string& expected, const std::string& got) {
    return Fail(call + ": expected " + expected + ", got " + got);
  }

  bool Failed() const {
    return status == CheckStatus::FAIL || status == CheckStatus::CRASH || status == CheckStatus::TIMEOUT;
  }

  // "pass", "warn", "skip", "inapplicable", "fail", "crash", "timeout", and back.
  static const char* StatusName(CheckStatus status);
  static bool ParseStatus(const std::string& name, CheckStatus* status);

 private:
  static CheckResult Make(CheckStatus status, std::string text) {
    CheckResult r;
    r.status = status;
    r.message = std::move(text);
    return r;
  }
};

#endif  // VALIDATE_CHECKRESULT_H
