#include "CallbackChecks.h"

#include "GuiChecks.h"
#include "HostHarness.h"

namespace {

CheckResult Verdict(const HostHarness& harness) {
  if (harness.HasProblems(HostHarness::Trouble::CALLBACK))
    return CheckResult::Fail(harness.ProblemText(HostHarness::Trouble::CALLBACK));
  if (harness.Callbacks() == 0) return CheckResult::Warn("the module never called the host");
  return CheckResult::Pass();
}

}  // namespace

void CallbackChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back(
      {"callback.dsp",
       "two DSP instances: each call carries the calling instance's record and a known opcode; none "
       "after close",
       false, true, &Dsp});
  checks->push_back(
      {"callback.gui",
       "two GUI instances: each call carries the calling instance's record, a known opcode and a pin "
       "of the list; none after close",
       true, true, &Gui});
}

CheckResult CallbackChecks::Dsp(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int32_t count = PinDescription::DspCount(pins);
  const int a = harness.OpenDsp(count);
  const int b = harness.OpenDsp(count);
  if (a < 0 || b < 0) return CheckResult::Skip("makeModule(0, 1) gives no two usable DSP instances");
  const int blocks = 2 + context.Size() / 32;
  for (int block = 0; block < blocks; ++block) {
    harness.Dsp(a).Run(64);
    harness.Dsp(b).Run(64);
  }
  harness.Close(a);
  for (int block = 0; block < blocks; ++block) harness.Dsp(b).Run(64);
  harness.Dsp(b).Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, 96000.0f);
  harness.Close(b);
  return Verdict(harness);
}

CheckResult CallbackChecks::Gui(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  if (pins.empty()) return CheckResult::Inapplicable("the module has no pins to edit");
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  std::vector<float> start;
  for (size_t i = 0; i < pins.size(); ++i) start.push_back(GuiChecks::RandomValue(context.Random()));
  const int a = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
  const int b = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
  if (a < 0 || b < 0) return CheckResult::Skip("makeModule(0, 2) gives no two usable GUI instances");
  harness.Gui(a).Dispatch(GUI_OP_OPEN, 1);
  harness.Gui(b).Dispatch(GUI_OP_OPEN, 1);
  const auto last = static_cast<int32_t>(pins.size()) - 1;
  std::uniform_int_distribution<int32_t> pin(0, last);
  const int edits = 2 * static_cast<int>(pins.size()) + context.Size() / 8;
  for (int k = 0; k < edits; ++k) {
    GuiChecks::Apply(harness, a, pins, {pin(context.Random()), GuiChecks::RandomValue(context.Random())});
    GuiChecks::Apply(harness, b, pins, {pin(context.Random()), GuiChecks::RandomValue(context.Random())});
  }
  harness.Close(a);
  for (int k = 0; k < edits; ++k)
    GuiChecks::Apply(harness, b, pins, {pin(context.Random()), GuiChecks::RandomValue(context.Random())});
  harness.Close(b);
  return Verdict(harness);
}
