#include "FactoryChecks.h"

#include <climits>

#include "HostHarness.h"
#include "TextFormat.h"

namespace {

std::string Make(int32_t index, int32_t type) {
  return "makeModule(" + std::to_string(index) + ", " + std::to_string(type) + ")";
}

// The words every record shares; a failure names the first one that is wrong.
CheckResult Header(const std::string& call, int32_t magic, int32_t expected_magic, int32_t version,
                   const void* object, QXWord host_data, QXWord expected_host_data) {
  if (magic != expected_magic)
    return CheckResult::Fail(call + " record magic", TextFormat::Hex(static_cast<uint32_t>(expected_magic)),
                             TextFormat::Hex(static_cast<uint32_t>(magic)));
  if (version != 1) return CheckResult::Fail(call + " record version", "1", std::to_string(version));
  if (object == nullptr) return CheckResult::Fail(call + " record object", "the instance's address", "null");
  if (host_data != expected_host_data)
    return CheckResult::Fail(call + " record host_data", "the value given to makeModule",
                             std::to_string(host_data));
  return CheckResult::Pass();
}

}  // namespace

void FactoryChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back(
      {"factory.records",
       "both instance types give distinct records: magic QXPL or QXPM, version 1, object, entries, "
       "host_data, zero reserved words",
       false, false, &Records});
  checks->push_back({"factory.refusals", "other instance types and module indices give null and call nothing",
                     false, false, &Refusals});
  checks->push_back({"factory.no-callback",
                     "a DSP instance made without a host callback survives open, process "
                     "and close",
                     false, true, &NoCallback});
}

CheckResult FactoryChecks::Records(CheckContext& context) {
  CheckResult result;
  if (!context.Ready(&result)) return result;
  // This check is the one that reports a module giving no instance: it goes
  // on without a pin list, and makeModule's null answer fails it below.
  std::vector<CheckContext::Pin> pins;
  CheckResult undescribed;
  context.DescribePins(&pins, &undescribed);
  const auto pin_count = static_cast<int32_t>(pins.size());
  HostHarness harness(context.MakeModuleExport(), context.Trace());

  int dsp[2], gui[2];
  for (int i = 0; i < 2; ++i) {
    dsp[i] = harness.MakeDsp(PinDescription::DspCount(pins));
    if (dsp[i] < 0) return CheckResult::Fail(Make(0, QX_INSTANCE_DSP), "a record", "null");
    const QXModuleStruct* r = harness.DspRecord(dsp[i]);
    result = Header(Make(0, QX_INSTANCE_DSP), r->magic, QX_MAGIC_DSP, r->version, r->object, r->host_data,
                    harness.Dsp(dsp[i]).HostData());
    if (result.Failed()) return result;
    if (r->dispatch_entry == nullptr || r->process_entry == nullptr || r->event_entry == nullptr)
      return CheckResult::Fail(Make(0, QX_INSTANCE_DSP) + " record entries",
                               "dispatch_entry, process_entry and event_entry set", "a null entry");
    if (r->reserved1 != 0 || r->reserved2[0] != 0 || r->reserved2[1] != 0 || r->reserved2[2] != 0 ||
        r->reserved2[3] != 0)
      return CheckResult::Fail(Make(0, QX_INSTANCE_DSP) + " record reserved words", "0", "another value");

    gui[i] = harness.MakeGui(pin_count, GuiHost::Echo::NONE);
    if (gui[i] < 0) return CheckResult::Fail(Make(0, QX_INSTANCE_GUI), "a record", "null");
    const QXGuiStruct* g = harness.GuiRecord(gui[i]);
    result = Header(Make(0, QX_INSTANCE_GUI), g->magic, QX_MAGIC_GUI, g->version, g->object, g->host_data,
                    harness.Gui(gui[i]).HostData());
    if (result.Failed()) return result;
    if (g->dispatch_entry == nullptr)
      return CheckResult::Fail(Make(0, QX_INSTANCE_GUI) + " record dispatch_entry", "set", "null");
    for (const int32_t word : g->reserved) {
      if (word != 0)
        return CheckResult::Fail(Make(0, QX_INSTANCE_GUI) + " record reserved words", "0",
                                 std::to_string(word));
    }
  }
  const void* records[] = {harness.DspRecord(dsp[0]), harness.DspRecord(dsp[1]), harness.GuiRecord(gui[0]),
                           harness.GuiRecord(gui[1])};
  for (int a = 0; a < 4; ++a) {
    for (int b = a + 1; b < 4; ++b) {
      if (records[a] == records[b])
        return CheckResult::Fail("makeModule, four instances", "four distinct records",
                                 "the record " + TextFormat::Pointer(records[a]) + " twice");
    }
  }
  const auto* d0 = harness.DspRecord(dsp[0]);
  const auto* d1 = harness.DspRecord(dsp[1]);
  if (d0->object == d1->object)
    return CheckResult::Fail("makeModule(0, 1) twice", "two objects", "one object for both records");
  for (int i = 1; i >= 0; --i) {
    harness.Close(gui[i]);
    harness.Close(dsp[i]);
  }
  return CheckResult::Pass();
}

CheckResult FactoryChecks::Refusals(CheckContext& context) {
  CheckResult result;
  if (!context.Ready(&result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const struct {
    int32_t index;
    int32_t type;
  } refused[] = {{0, 0},
                 {0, 3},
                 {0, -1},
                 {0, 255},
                 {0, INT32_MAX},
                 {0, INT32_MIN},
                 {1, QX_INSTANCE_DSP},
                 {1, QX_INSTANCE_GUI},
                 {-1, QX_INSTANCE_DSP},
                 {-1, QX_INSTANCE_GUI},
                 {INT32_MAX, QX_INSTANCE_GUI}};
  for (const auto& r : refused) {
    void* record = harness.MakeRaw(r.index, r.type);
    // A record that should not exist is left alone: nothing says how to close it.
    if (record != nullptr)
      return CheckResult::Fail(Make(r.index, r.type), "null", TextFormat::Pointer(record));
    if (harness.Callbacks() != 0)
      return CheckResult::Fail(Make(r.index, r.type), "no call of the host callback",
                               std::to_string(harness.Callbacks()) + " calls");
  }
  return CheckResult::Pass();
}

CheckResult FactoryChecks::NoCallback(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int dsp = harness.MakeDsp(PinDescription::DspCount(pins), false);
  if (dsp < 0) return CheckResult::Fail(Make(0, QX_INSTANCE_DSP) + " without a callback", "a record", "null");
  if (!harness.IsLive(dsp))
    return CheckResult::Fail(Make(0, QX_INSTANCE_DSP) + " record dispatch_entry", "set", "null");
  DspHost& host = harness.Dsp(dsp);
  host.Open();
  for (int block = 0; block < 4 + context.Size() / 32; ++block) host.Run(64);
  host.Close();
  return CheckResult::Pass();
}
