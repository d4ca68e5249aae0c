#include "ConverterOracle.h"

#include <cmath>
#include <cstring>

#include "TextFormat.h"
#include "GuiChecks.h"
#include "HostHarness.h"

namespace {

const char CONVERTER_ID[] = "Kalo_GUI-Gainlens";
enum : int32_t { VOLTAGE = 0, VREF = 1, DB = 2 };

bool IsConverter(const CheckContext& context, const std::vector<CheckContext::Pin>& pins, std::string* why_not) {
  const char* id = context.Properties().id;
  if (id == nullptr || std::strncmp(id, CONVERTER_ID, sizeof CONVERTER_ID) != 0) {
    *why_not = "not the level converter: id " + TextFormat::Quoted(id, 64);
    return false;
  }
  const char* names[] = {"Voltage", "Vref", "dB"};
  if (pins.size() < 3) {
    *why_not = "not the level converter: fewer than three pins";
    return false;
  }
  for (int32_t i = 0; i < 3; ++i) {
    const auto& pin = pins[static_cast<size_t>(i)];
    if (pin.name != names[i] || pin.datatype != DT_FLOAT) {
      *why_not = "not the level converter: pin " + std::to_string(i) + " is \"" + pin.name + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace

float ConverterOracle::Db(float voltage, float vref) {
  return static_cast<float>(20.0f * std::log10(static_cast<double>(voltage) / static_cast<double>(vref)));
}

float ConverterOracle::Voltage(float db, float vref) {
  return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0f) * static_cast<double>(vref));
}

void ConverterOracle::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back({"converter.oracle",
                     "the level converter writes exactly the conversion computed independently, after every edit",
                     true, true, &Run});
}

CheckResult ConverterOracle::Run(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  std::string why_not;
  if (!IsConverter(context, pins, &why_not)) return CheckResult::Skip(why_not);

  HostHarness harness(context.MakeModuleExport(), context.Trace());
  std::uniform_int_distribution<int32_t> any_pin(VOLTAGE, DB);
  const int sequences = 2 + context.Size() / 32;
  const int edits = 16;
  int checked = 0;
  for (int s = 0; s < sequences; ++s) {
    std::vector<float> start(pins.size(), 0.0f);
    start[VREF] = GuiChecks::RandomValue(context.Random());
    const int id = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
    if (id < 0) return CheckResult::Skip("makeModule(0, 2) gives no usable GUI instance");
    // What the converter holds: the Vref it read when made, and the direction
    // and value of the last edit, which the first edit of each sequence sets.
    float vref = start[VREF], voltage = 0.0f, db = 0.0f;
    bool to_db = true;
    for (int k = 0; k < edits; ++k) {
      const int32_t pin = k == 0 ? (context.Random()() % 2 ? VOLTAGE : DB) : any_pin(context.Random());
      const float value = GuiChecks::RandomValue(context.Random());
      if (pin == VREF) vref = value;
      if (pin == VOLTAGE) voltage = value, to_db = true;
      if (pin == DB) db = value, to_db = false;
      const int32_t target = to_db ? DB : VOLTAGE;
      const float expected = to_db ? Db(voltage, vref) : Voltage(db, vref);
      if (to_db) db = expected; else voltage = expected;

      const size_t first = harness.Writes().size();
      harness.Gui(id).EditFloat(pin, value);
      const std::string call = "edit " + std::to_string(k + 1) + " of sequence " + std::to_string(s + 1) + ": " +
                               pins[static_cast<size_t>(pin)].name + " = " + TextFormat::Float(value) +
                               " (Voltage " + TextFormat::Float(voltage) + ", Vref " + TextFormat::Float(vref) +
                               ", dB " + TextFormat::Float(db) + " expected after it)";
      const std::string want = pins[static_cast<size_t>(target)].name + " = " + TextFormat::Float(expected);
      const size_t writes = harness.Writes().size() - first;
      if (writes != 1)
        return CheckResult::Fail(call, "one write, " + want, std::to_string(writes) + " writes");
      const HostHarness::Write& w = harness.Writes()[first];
      if (w.pin != target || !TextFormat::SameFloat(w.opt, expected))
        return CheckResult::Fail(call, want,
                                 (w.pin >= 0 && static_cast<size_t>(w.pin) < pins.size()
                                      ? pins[static_cast<size_t>(w.pin)].name
                                      : "pin " + std::to_string(w.pin)) +
                                     " = " + TextFormat::Float(w.opt));
      ++checked;
    }
    harness.Close(id);
  }
  return CheckResult::Pass(std::to_string(checked) + " writes checked");
}
