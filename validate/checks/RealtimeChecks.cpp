#include "RealtimeChecks.h"

#include "AllocationCounter.h"
#include "GuiChecks.h"
#include "HostHarness.h"

namespace {

std::string Allocations(uint64_t count, uint64_t bytes) {
  return std::to_string(count) + (count == 1 ? " allocation" : " allocations") + " (" +
         std::to_string(bytes) + " bytes)";
}

}  // namespace

void RealtimeChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back(
      {"realtime.gui-pin-change", "no heap allocation inside GUI_OP_PIN_VALUE_CHANGED", true, true, &Gui});
  checks->push_back({"realtime.dsp-process", "no heap allocation inside a process call", false, true, &Dsp});
}

CheckResult RealtimeChecks::Gui(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  std::string why_not;
  if (!AllocationCounter::Available(&why_not)) return CheckResult::Skip(why_not);
  if (pins.empty()) return CheckResult::Inapplicable("the module has no pins to edit");
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  // No echo: the deferred echo's queue is the host's allocation, not the module's.
  std::vector<float> start;
  for (size_t i = 0; i < pins.size(); ++i) start.push_back(GuiChecks::RandomValue(context.Random()));
  const int id = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
  if (id < 0) return CheckResult::Skip("makeModule(0, 2) gives no usable GUI instance");
  const int rounds = 2 + context.Size() / 32;
  for (int round = 0; round < rounds; ++round) {
    for (const auto& pin : pins) {
      const GuiChecks::Edit edit{pin.index, GuiChecks::RandomValue(context.Random())};
      const uint64_t count = AllocationCounter::Count();
      const uint64_t bytes = AllocationCounter::Bytes();
      GuiChecks::Apply(harness, id, pins, edit);
      if (AllocationCounter::Count() != count)
        return CheckResult::Fail(
            "GUI_OP_PIN_VALUE_CHANGED, " + GuiChecks::Describe(pins, edit), "no heap allocation",
            Allocations(AllocationCounter::Count() - count, AllocationCounter::Bytes() - bytes));
    }
  }
  harness.Close(id);
  return CheckResult::Pass("counted by " + std::string(AllocationCounter::Mechanism()));
}

CheckResult RealtimeChecks::Dsp(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  std::string why_not;
  if (!AllocationCounter::Available(&why_not)) return CheckResult::Skip(why_not);
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int dsp = harness.OpenDsp(PinDescription::DspCount(pins));
  if (dsp < 0) return CheckResult::Skip("makeModule(0, 1) gives no usable DSP instance");
  DspHost& host = harness.Dsp(dsp);
  const int blocks = 4 + context.Size() / 8;
  for (int block = 0; block < blocks; ++block) {
    const uint64_t count = AllocationCounter::Count();
    const uint64_t bytes = AllocationCounter::Bytes();
    host.Run(64);
    if (AllocationCounter::Count() != count)
      return CheckResult::Fail(
          "process_entry, block " + std::to_string(block + 1) + " of 64 samples", "no heap allocation",
          Allocations(AllocationCounter::Count() - count, AllocationCounter::Bytes() - bytes));
  }
  harness.Close(dsp);
  return CheckResult::Pass("counted by " + std::string(AllocationCounter::Mechanism()));
}
