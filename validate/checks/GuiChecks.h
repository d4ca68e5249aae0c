// Checks of the GUI dispatcher: unknown opcodes, a storm of pin edits under
// every echo policy, two instances interleaved, and two fresh instances given
// the same edits.
#ifndef VALIDATE_CHECKS_GUICHECKS_H
#define VALIDATE_CHECKS_GUICHECKS_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "HostHarness.h"
#include "ValidationCheck.h"

class GuiChecks {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

  // One edit: the host stores `value` in pin `pin` and reports the change.
  struct Edit {
    int32_t pin;
    float value;
  };
  // A value for an edit: ordinary numbers, wide magnitudes, zero and the
  // special ones (infinities, NaN, a subnormal, -0).
  static float RandomValue(std::mt19937_64& random);
  // A GUI instance for `pins`, integer pins typed as such; -1 if none.
  static int NewInstance(HostHarness& harness, const std::vector<CheckContext::Pin>& pins, GuiHost::Echo echo,
                         const std::vector<float>& start);
  static void Apply(HostHarness& harness, int id, const std::vector<CheckContext::Pin>& pins,
                    const Edit& edit);
  // Every pin's 4 bytes as the host holds them.
  static std::vector<uint32_t> Snapshot(HostHarness& harness, int id, size_t pins);
  static std::string Describe(const std::vector<CheckContext::Pin>& pins,
                              const std::vector<uint32_t>& snapshot);
  static std::string Describe(const std::vector<CheckContext::Pin>& pins, const Edit& edit);

 private:
  static CheckResult Unknown(CheckContext& context);
  static CheckResult Storm(CheckContext& context);
  static CheckResult Interleaved(CheckContext& context);
  static CheckResult Deterministic(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_GUICHECKS_H
