#include "GuiChecks.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "TextFormat.h"

namespace {

using Pins = std::vector<CheckContext::Pin>;

struct Run {
  std::vector<std::vector<uint32_t>> snapshots;  // after each edit
  std::vector<HostHarness::Write> writes;
};

const char* EchoName(GuiHost::Echo echo) {
  switch (echo) {
    case GuiHost::Echo::NONE:
      return "none";
    case GuiHost::Echo::IMMEDIATE:
      return "immediate";
    case GuiHost::Echo::DEFERRED:
      return "deferred";
    case GuiHost::Echo::EVERY:
      return "every write";
  }
  return "?";
}

std::vector<float> RandomStart(std::mt19937_64& random, size_t pins) {
  std::vector<float> start;
  for (size_t i = 0; i < pins; ++i) start.push_back(GuiChecks::RandomValue(random));
  return start;
}

// Whether a GUI record differs in a field (its padding is nobody's).
bool Changed(const QXGuiStruct& a, const QXGuiStruct& b) {
  return a.magic != b.magic || a.version != b.version || a.dispatch_entry != b.dispatch_entry ||
         a.host_data != b.host_data || a.object != b.object ||
         std::memcmp(a.reserved, b.reserved, sizeof a.reserved) != 0;
}

std::vector<GuiChecks::Edit> RandomEdits(std::mt19937_64& random, size_t pins, int count) {
  std::vector<GuiChecks::Edit> edits;
  edits.reserve(static_cast<size_t>(count));
  std::uniform_int_distribution<int32_t> pin(0, static_cast<int32_t>(pins) - 1);
  for (int i = 0; i < count; ++i) edits.push_back({pin(random), GuiChecks::RandomValue(random)});
  return edits;
}

// A fresh instance given `edits` alone, closed afterwards.
Run RunAlone(HostHarness& harness, const Pins& pins, const std::vector<float>& start,
             const std::vector<GuiChecks::Edit>& edits) {
  Run run;
  const int id = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
  if (id < 0) return run;
  const size_t first_write = harness.Writes().size();
  for (const GuiChecks::Edit& edit : edits) {
    GuiChecks::Apply(harness, id, pins, edit);
    run.snapshots.push_back(GuiChecks::Snapshot(harness, id, pins.size()));
  }
  run.writes.assign(harness.Writes().begin() + static_cast<long>(first_write), harness.Writes().end());
  harness.Close(id);
  return run;
}

// Leaves freed heap blocks full of `pattern`, so that an instance made next
// finds that pattern in whatever it does not initialise.
void DirtyHeap(unsigned char pattern) {
  std::vector<void*> blocks;
  for (size_t size = 16; size <= 1024; size += 24) {
    auto* block = static_cast<volatile unsigned char*>(std::malloc(size));
    if (block == nullptr) continue;
    for (size_t i = 0; i < size; ++i) block[i] = pattern;
    blocks.push_back(const_cast<unsigned char*>(block));
  }
  for (void* block : blocks) std::free(block);
}

bool SameWrites(const HostHarness::Write& a, const HostHarness::Write& b) {
  return a.pin == b.pin && a.value == b.value && TextFormat::SameFloat(a.opt, b.opt);
}

}  // namespace

void GuiChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back({"gui.unknown-opcodes", "unknown opcodes answer 0, call nothing and change nothing", true,
                     true, &Unknown});
  checks->push_back(
      {"gui.edit-storm",
       "random pin edits under each echo policy: bounded nesting and host calls, magic and version "
       "unchanged, pins that settle",
       true, true, &Storm});
  checks->push_back({"gui.interleaved", "two instances edited in turn give what each gives alone", true, true,
                     &Interleaved});
  checks->push_back({"gui.deterministic",
                     "two fresh instances given the same edits give bit-identical results", true, true,
                     &Deterministic});
}

float GuiChecks::RandomValue(std::mt19937_64& random) {
  static const float SPECIAL_VALUES[] = {0.0f,
                                         -0.0f,
                                         1.0f,
                                         -1.0f,
                                         0.5f,
                                         10.0f,
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN(),
                                         1e-40f,
                                         3e38f,
                                         -3e38f};
  std::uniform_int_distribution<int> kind(0, 9);
  const int k = kind(random);
  if (k < 4) return std::uniform_real_distribution<float>(-100.0f, 100.0f)(random);
  if (k < 8) {
    const double magnitude = std::pow(10.0, std::uniform_real_distribution<double>(-6.0, 6.0)(random));
    return static_cast<float>(random() % 2 ? magnitude : -magnitude);
  }
  std::uniform_int_distribution<size_t> special(0, sizeof SPECIAL_VALUES / sizeof SPECIAL_VALUES[0] - 1);
  return SPECIAL_VALUES[special(random)];
}

int GuiChecks::NewInstance(HostHarness& harness, const Pins& pins, GuiHost::Echo echo,
                           const std::vector<float>& start) {
  std::vector<float> values = start;
  for (size_t i = 0; i < pins.size() && i < values.size(); ++i) {
    if (pins[i].datatype != DT_FLOAT) values[i] = 0.0f;
  }
  const int id = harness.MakeGui(static_cast<int32_t>(pins.size()), echo, values);
  if (id < 0 || !harness.IsLive(id)) return -1;
  for (const auto& pin : pins) {
    if (pin.datatype != DT_FLOAT) harness.Gui(id).SetPinType(pin.index, GuiHost::PinType::INT);
  }
  return id;
}

void GuiChecks::Apply(HostHarness& harness, int id, const Pins& pins, const Edit& edit) {
  if (pins[static_cast<size_t>(edit.pin)].datatype == DT_FLOAT) {
    harness.Gui(id).EditFloat(edit.pin, edit.value);
  } else {
    const double whole = std::isnan(edit.value)
                             ? 0.0
                             : std::fmin(std::fmax(std::trunc(static_cast<double>(edit.value)), -1e9), 1e9);
    harness.Gui(id).EditInt(edit.pin, static_cast<int32_t>(whole));
  }
}

std::vector<uint32_t> GuiChecks::Snapshot(HostHarness& harness, int id, size_t pins) {
  std::vector<uint32_t> snapshot;
  for (size_t i = 0; i < pins; ++i)
    snapshot.push_back(static_cast<uint32_t>(harness.Gui(id).Int(static_cast<int32_t>(i))));
  return snapshot;
}

std::string GuiChecks::Describe(const Pins& pins, const std::vector<uint32_t>& snapshot) {
  std::string text;
  for (size_t i = 0; i < pins.size() && i < snapshot.size(); ++i) {
    text += (text.empty() ? "" : ", ") + pins[i].name + " = ";
    if (pins[i].datatype == DT_FLOAT) {
      float value;
      std::memcpy(&value, &snapshot[i], sizeof value);
      text += TextFormat::Float(value);
    } else {
      text += std::to_string(static_cast<int32_t>(snapshot[i]));
    }
  }
  return text;
}

std::string GuiChecks::Describe(const Pins& pins, const Edit& edit) {
  return "pin " + std::to_string(edit.pin) + " (" + pins[static_cast<size_t>(edit.pin)].name +
         ") = " + TextFormat::Float(edit.value);
}

CheckResult GuiChecks::Unknown(CheckContext& context) {
  CheckResult result;
  Pins pins;
  if (!context.Prepare(&pins, &result)) return result;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int id = NewInstance(harness, pins, GuiHost::Echo::NONE, {});
  if (id < 0) return CheckResult::Skip("makeModule(0, 2) gives no usable GUI instance");
  const QXGuiStruct* record = harness.GuiRecord(id);
  const QXGuiStruct before = *record;

  std::vector<int32_t> opcodes;
  const int size = context.Size();
  for (int32_t i = 1; i <= size; ++i) opcodes.push_back(-i);
  for (int32_t i = 0; i < size; ++i) opcodes.push_back(GUI_OP_INDEX_2 + 1 + i);
  for (const int32_t far : {256 + GUI_OP_CLOSE, 65536 + GUI_OP_PIN_VALUE_CHANGED, INT32_MAX, INT32_MIN}) {
    if (far > GUI_OP_INDEX_2 + size || far < -size) opcodes.push_back(far);
  }
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  unsigned char scratch[256];
  for (const int32_t opcode : opcodes) {
    std::memset(scratch, 0x5A, sizeof scratch);
    const int32_t index = any(context.Random());
    const int32_t value = any(context.Random());
    const std::string call = "GUI opcode " + std::to_string(opcode) + " (index " + std::to_string(index) +
                             ", value " + std::to_string(value) + ")";
    const uint64_t calls = harness.Callbacks();
    const QXWord answer =
        harness.Gui(id).Dispatch(opcode, index, value, scratch, RandomValue(context.Random()));
    if (answer != 0) return CheckResult::Fail(call, "0", std::to_string(answer));
    if (harness.Callbacks() != calls)
      return CheckResult::Fail(call, "no host call", std::to_string(harness.Callbacks() - calls) + " calls");
    if (Changed(before, *record)) return CheckResult::Fail(call, "the record unchanged", "a change");
    for (const unsigned char byte : scratch) {
      if (byte != 0x5A) return CheckResult::Fail(call, "nothing written through ptr", "a write");
    }
  }
  harness.Close(id);
  return CheckResult::Pass();
}

CheckResult GuiChecks::Storm(CheckContext& context) {
  CheckResult result;
  Pins pins;
  if (!context.Prepare(&pins, &result)) return result;
  if (pins.empty()) return CheckResult::Inapplicable("the module has no pins to edit");
  // Room for every pin to be read and written a few times, and an echo of each.
  const uint64_t bound = 16 + 8 * static_cast<uint64_t>(pins.size());
  std::string remark;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  for (const GuiHost::Echo echo :
       {GuiHost::Echo::NONE, GuiHost::Echo::IMMEDIATE, GuiHost::Echo::DEFERRED, GuiHost::Echo::EVERY}) {
    const int id = NewInstance(harness, pins, echo, RandomStart(context.Random(), pins.size()));
    if (id < 0) return CheckResult::Skip("makeModule(0, 2) gives no usable GUI instance");
    const std::vector<Edit> edits = RandomEdits(context.Random(), pins.size(), context.Size());
    for (size_t k = 0; k < edits.size(); ++k) {
      const std::string call = std::string("echo ") + EchoName(echo) + ", edit " + std::to_string(k + 1) +
                               ", " + Describe(pins, edits[k]);
      const uint64_t calls = harness.Callbacks();
      Apply(harness, id, pins, edits[k]);
      for (const auto trouble : {HostHarness::Trouble::DEPTH, HostHarness::Trouble::RECORD}) {
        if (harness.HasProblems(trouble))
          return CheckResult::Fail(call + ": " + harness.ProblemText(trouble));
      }
      if (harness.Callbacks() - calls > bound)
        return CheckResult::Fail(call, "at most " + std::to_string(bound) + " host calls",
                                 std::to_string(harness.Callbacks() - calls));
      if (echo == GuiHost::Echo::NONE && remark.empty()) {
        // Reporting the same pin again, unchanged, should change nothing.
        const std::vector<uint32_t> settled = Snapshot(harness, id, pins.size());
        harness.Gui(id).Report(edits[k].pin);
        const std::vector<uint32_t> again = Snapshot(harness, id, pins.size());
        for (size_t p = 0; p < pins.size(); ++p) {
          float a, b;
          std::memcpy(&a, &settled[p], sizeof a);
          std::memcpy(&b, &again[p], sizeof b);
          const bool same =
              pins[p].datatype == DT_FLOAT ? TextFormat::SameFloat(a, b) : settled[p] == again[p];
          if (!same && remark.empty())
            remark = call + ", reported again unchanged: expected the pins to stay " +
                     Describe(pins, settled) + ", got " + Describe(pins, again);
        }
      }
    }
    harness.Close(id);
  }
  return remark.empty() ? CheckResult::Pass() : CheckResult::Warn(remark);
}

CheckResult GuiChecks::Interleaved(CheckContext& context) {
  CheckResult result;
  Pins pins;
  if (!context.Prepare(&pins, &result)) return result;
  if (pins.empty()) return CheckResult::Inapplicable("the module has no pins to edit");
  const int count = 4 + context.Size() / 4;
  const std::vector<float> start_a = RandomStart(context.Random(), pins.size());
  const std::vector<float> start_b = RandomStart(context.Random(), pins.size());
  const std::vector<Edit> edits_a = RandomEdits(context.Random(), pins.size(), count);
  const std::vector<Edit> edits_b = RandomEdits(context.Random(), pins.size(), count);
  HostHarness harness(context.MakeModuleExport(), context.Trace());

  // Alone, each twice: a module that differs from itself is judged by
  // gui.deterministic, not here.
  const Run alone_a = RunAlone(harness, pins, start_a, edits_a);
  const Run alone_b = RunAlone(harness, pins, start_b, edits_b);
  if (alone_a.snapshots.empty() || alone_b.snapshots.empty())
    return CheckResult::Skip("makeModule(0, 2) gives no usable GUI instance");
  if (RunAlone(harness, pins, start_a, edits_a).snapshots != alone_a.snapshots ||
      RunAlone(harness, pins, start_b, edits_b).snapshots != alone_b.snapshots)
    return CheckResult::Skip("one instance alone does not repeat its own results (see gui.deterministic)");

  const int a = NewInstance(harness, pins, GuiHost::Echo::NONE, start_a);
  const int b = NewInstance(harness, pins, GuiHost::Echo::NONE, start_b);
  if (a < 0 || b < 0) return CheckResult::Skip("makeModule(0, 2) gives no second GUI instance");
  for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
    const struct {
      const char* name;
      int id;
      const Edit& edit;
      const std::vector<uint32_t>& expected;
    } turns[] = {{"A", a, edits_a[k], alone_a.snapshots[k]}, {"B", b, edits_b[k], alone_b.snapshots[k]}};
    for (const auto& turn : turns) {
      Apply(harness, turn.id, pins, turn.edit);
      const std::vector<uint32_t> got = Snapshot(harness, turn.id, pins.size());
      if (got != turn.expected)
        return CheckResult::Fail(std::string("instance ") + turn.name + ", edit " + std::to_string(k + 1) +
                                     " (" + Describe(pins, turn.edit) +
                                     ") with the other instance open beside it",
                                 Describe(pins, turn.expected) + " as alone", Describe(pins, got));
    }
  }
  harness.Close(b);
  harness.Close(a);
  return CheckResult::Pass();
}

CheckResult GuiChecks::Deterministic(CheckContext& context) {
  CheckResult result;
  Pins pins;
  if (!context.Prepare(&pins, &result)) return result;
  if (pins.empty()) return CheckResult::Inapplicable("the module has no pins to edit");
  const size_t first_pins = pins.size() < 8 ? pins.size() : 8;
  const int count = 2 + context.Size() / static_cast<int>(4 * first_pins);
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  // One sequence starting with each pin: what an instance does before its
  // first edit of each kind is where uninitialised state shows.
  for (size_t first = 0; first < first_pins; ++first) {
    const std::vector<float> start = RandomStart(context.Random(), pins.size());
    std::vector<Edit> edits = {{static_cast<int32_t>(first), RandomValue(context.Random())}};
    const std::vector<Edit> more = RandomEdits(context.Random(), pins.size(), count);
    edits.insert(edits.end(), more.begin(), more.end());

    DirtyHeap(0x5A);
    const Run one = RunAlone(harness, pins, start, edits);
    DirtyHeap(0xA5);
    const Run two = RunAlone(harness, pins, start, edits);
    if (one.snapshots.empty() || two.snapshots.empty())
      return CheckResult::Skip("makeModule(0, 2) gives no usable GUI instance");
    for (size_t k = 0; k < edits.size(); ++k) {
      if (one.snapshots[k] != two.snapshots[k])
        return CheckResult::Fail(
            "second fresh instance, edit " + std::to_string(k + 1) + " (" + Describe(pins, edits[k]) + ")",
            Describe(pins, one.snapshots[k]) + " as the first", Describe(pins, two.snapshots[k]));
    }
    const size_t writes = std::min(one.writes.size(), two.writes.size());
    for (size_t w = 0; w < writes; ++w) {
      if (!SameWrites(one.writes[w], two.writes[w]))
        return CheckResult::Fail(
            "second fresh instance, write " + std::to_string(w + 1),
            "pin " + std::to_string(one.writes[w].pin) + " = " + TextFormat::Float(one.writes[w].opt) +
                " as the first",
            "pin " + std::to_string(two.writes[w].pin) + " = " + TextFormat::Float(two.writes[w].opt));
    }
    if (one.writes.size() != two.writes.size())
      return CheckResult::Fail("second fresh instance, the same edits",
                               std::to_string(one.writes.size()) + " writes",
                               std::to_string(two.writes.size()));
  }
  return CheckResult::Pass();
}
