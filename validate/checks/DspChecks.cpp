#include "DspChecks.h"

#include <climits>
#include <cstring>

#include "DspInterleaved.h"
#include "HostHarness.h"
#include "OpcodeNames.h"
#include "ProcessFormats.h"
#include "TextFormat.h"

namespace {

std::string Op(int32_t opcode) {
  const char* name = OpcodeNames::Find(OpcodeFamily::DSP, opcode);
  return name != nullptr ? name : "DSP opcode " + std::to_string(opcode);
}

// The first field in which two records differ.
const char* ChangedField(const QXModuleStruct& a, const QXModuleStruct& b) {
  if (a.magic != b.magic) return "magic";
  if (a.version != b.version) return "version";
  if (a.host_data != b.host_data) return "host_data";
  if (a.object != b.object) return "object";
  if (a.reserved1 != b.reserved1) return "reserved1";
  if (a.dispatch_entry != b.dispatch_entry) return "dispatch_entry";
  if (a.process_entry != b.process_entry) return "process_entry";
  if (a.event_entry != b.event_entry) return "event_entry";
  if (std::memcmp(a.reserved2, b.reserved2, sizeof a.reserved2) != 0) return "reserved2";
  return nullptr;
}

}  // namespace

void DspChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back(
      {"dsp.unknown-opcodes",
       "unknown opcodes (and 4, 5, 9, 11) answer 0, call nothing and change nothing; not the retired "
       "7 and 10",
       true, true, &Unknown});
  checks->push_back(
      {"dsp.pin-list",
       "the pin list ends within 1024 pins; each description has a name, a direction and obeys the "
       "IO_PATCH_STORE rule",
       false, false, &PinList});
  checks->push_back({"dsp.lifecycle",
                     "open answers 0, process runs, close answers 1; magic and version unchanged; the "
                     "events pending stay within the host's bound; no event posted for a clock already past "
                     "(a warning)",
                     false, true, &Lifecycle});
  checks->push_back(ProcessFormats::InputBuffersCheck());
  checks->push_back(DspInterleaved::Check());
  checks->push_back(ProcessFormats::Check());
}

std::vector<int32_t> DspChecks::UnknownOpcodes(int size) {
  std::vector<int32_t> opcodes = {4, 5, 9, 11};
  for (int32_t i = 1; i <= size; ++i) opcodes.push_back(-i);
  for (int32_t i = 0; i < size; ++i) opcodes.push_back(DSP_OP_GET_PROCESS_INFO + 1 + i);
  // A module that cuts opcodes to a byte or a half-word takes these for its own.
  for (const int32_t far :
       {256, 256 + DSP_OP_CLOSE, 65536 + DSP_OP_OPEN, INT32_MAX, INT32_MIN, INT32_MIN + 1}) {
    if (far > DSP_OP_GET_PROCESS_INFO + size) opcodes.push_back(far);
    if (far < -size) opcodes.push_back(far);
  }
  return opcodes;
}

CheckResult DspChecks::Unknown(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int dsp = harness.OpenDsp(PinDescription::DspCount(pins));
  if (dsp < 0) return CheckResult::Skip("makeModule(0, 1) gives no usable DSP instance");
  DspHost& host = harness.Dsp(dsp);
  const QXModuleStruct* record = harness.DspRecord(dsp);
  const QXModuleStruct before = *record;

  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_real_distribution<float> real(-1e6f, 1e6f);
  unsigned char scratch[256];
  for (const int32_t opcode : UnknownOpcodes(context.Size())) {
    std::memset(scratch, 0x5A, sizeof scratch);
    const int32_t index = any(context.Random());
    const int32_t value = any(context.Random());
    const float opt = real(context.Random());
    const std::string call =
        Op(opcode) + " (index " + std::to_string(index) + ", value " + std::to_string(value) + ")";
    const uint64_t calls = harness.Callbacks();
    const QXWord answer = host.Dispatch(opcode, index, value, scratch, opt);
    if (answer != 0) return CheckResult::Fail(call, "0", std::to_string(answer));
    if (harness.Callbacks() != calls)
      return CheckResult::Fail(call, "no host call", std::to_string(harness.Callbacks() - calls) + " calls");
    if (const char* field = ChangedField(before, *record))
      return CheckResult::Fail(call, "the record unchanged", std::string("a new ") + field);
    for (const unsigned char byte : scratch) {
      if (byte != 0x5A) return CheckResult::Fail(call, "nothing written through ptr", "a write");
    }
  }
  harness.Close(dsp);
  return CheckResult::Pass();
}

CheckResult DspChecks::PinList(CheckContext& context) {
  CheckResult result;
  if (!context.Ready(&result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int dsp = harness.MakeDsp(0);
  if (dsp < 0 || !harness.IsLive(dsp))
    return CheckResult::Skip("makeModule(0, 1) gives no usable DSP instance");
  DspHost& host = harness.Dsp(dsp);
  for (const int32_t index : {-1, -2, INT32_MIN}) {
    QXPinProperties p{};
    const QXWord answer = host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, index, 0, &p);
    if (answer != 0)
      return CheckResult::Fail("DSP_OP_GET_PIN_PROPERTIES(" + std::to_string(index) + ")", "0",
                               std::to_string(answer));
  }
  for (int32_t i = 0;; ++i) {
    const std::string call = "DSP_OP_GET_PIN_PROPERTIES(" + std::to_string(i) + ")";
    if (i == PinDescription::MAX_LIST)
      return CheckResult::Fail(call,
                               "the list ended within " + std::to_string(PinDescription::MAX_LIST) + " pins",
                               "a pin " + std::to_string(i));
    QXPinProperties p{};
    const QXWord answer = host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, i, 0, &p);
    if (answer == 0) break;
    if (answer != 1) return CheckResult::Fail(call, "1 or 0", std::to_string(answer));
    if (p.name == nullptr) return CheckResult::Fail(call + " name", "a text", "null");
    if (strnlen(p.name, PinDescription::MAX_NAME) == PinDescription::MAX_NAME)
      return CheckResult::Fail(
          call + " name",
          "a terminated text shorter than " + std::to_string(PinDescription::MAX_NAME) + " bytes",
          "no terminator");
    if (p.direction != DR_IN && p.direction != DR_OUT)
      return CheckResult::Fail(call + " direction", "DR_IN (0) or DR_OUT (1)", std::to_string(p.direction));
    const bool patch_store = (p.flags & IO_PATCH_STORE) != 0;
    const bool allowed =
        (p.flags & IO_PRIVATE) != 0 || p.direction == DR_OUT || (p.flags & IO_UI_COMMUNICATION) != 0;
    if (patch_store && !allowed)
      return CheckResult::Fail(call + " " + TextFormat::Quoted(p.name, PinDescription::MAX_NAME),
                               "IO_PATCH_STORE only with IO_PRIVATE, DR_OUT or IO_UI_COMMUNICATION",
                               "flags " + TextFormat::Hex(static_cast<uint32_t>(p.flags)) + " on an input");
  }
  harness.Close(dsp);
  return CheckResult::Pass();
}

CheckResult DspChecks::Lifecycle(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int dsp = harness.MakeDsp(PinDescription::DspCount(pins));
  if (dsp < 0 || !harness.IsLive(dsp))
    return CheckResult::Skip("makeModule(0, 1) gives no usable DSP instance");
  DspHost& host = harness.Dsp(dsp);
  const struct {
    int32_t opcode;
    int32_t value;
    float opt;
  } setup[] = {
      {DSP_OP_CHANGE_BLOCK_SIZE, 64, 0.0f}, {DSP_OP_CHANGE_SAMPLE_RATE, 0, 48000.0f}, {DSP_OP_OPEN, 0, 0.0f}};
  for (const auto& s : setup) {
    const QXWord answer = host.Dispatch(s.opcode, 0, s.value, nullptr, s.opt);
    if (answer != 0) return CheckResult::Fail(Op(s.opcode), "0", std::to_string(answer));
  }
  // A module that floods the host is told at its first block: a flood of
  // posts takes time, which must not run into the time limit.
  for (int block = 0; block < 4 + context.Size() / 16 && host.RefusedEvents() == 0; ++block) host.Run(64);
  if (harness.HasProblems(HostHarness::Trouble::RECORD))
    return CheckResult::Fail(harness.ProblemText(HostHarness::Trouble::RECORD));
  if (host.RefusedEvents() > 0)
    return CheckResult::Fail("HOST_OP_ADD_EVENT",
                             "at most " + std::to_string(DspHost::MAX_PENDING_EVENTS) + " events pending",
                             std::to_string(host.RefusedEvents()) + " posts beyond them, refused");
  // Read before close, which forgets the instance's queue.
  const uint64_t late = host.LateEvents();
  const std::string first_late = host.FirstLateEvent();
  const QXWord closed = harness.Close(dsp);
  if (closed != 1) return CheckResult::Fail("DSP_OP_CLOSE", "1", std::to_string(closed));
  // A post for a clock already past breaks no rule the instance can check,
  // but the host can only drop it: the module loses that event.
  if (late > 0)
    return CheckResult::Warn(first_late + (late > 1 ? " (and " + std::to_string(late - 1) + " more)" : "") +
                             ": never delivered");
  return CheckResult::Pass();
}
