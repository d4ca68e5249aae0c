#include "ConverterOracle.h"

#include <cmath>
#include <cstring>

#include "GuiChecks.h"
#include "HostHarness.h"
#include "TextFormat.h"

namespace {

const char CONVERTER_ID[] = "Kalo_GUI-Gainlens";
enum : int32_t { VOLTAGE = 0, VREF = 1, DB = 2 };

// The converter's pins as its id promises them; "" if they are, else what differs.
std::string WrongPins(const std::vector<CheckContext::Pin>& pins) {
  const char* names[] = {"Voltage", "Vref", "dB"};
  if (pins.size() < 3) return std::to_string(pins.size()) + " pins";
  for (int32_t i = 0; i < 3; ++i) {
    const auto& pin = pins[static_cast<size_t>(i)];
    if (pin.name != names[i] || pin.datatype != DT_FLOAT)
      return "pin " + std::to_string(i) + " \"" + pin.name + "\" of data type " +
             std::to_string(pin.datatype);
  }
  return "";
}

}  // namespace

float ConverterOracle::Db(float voltage, float vref) {
  return static_cast<float>(20.0f * std::log10(static_cast<double>(voltage) / static_cast<double>(vref)));
}

float ConverterOracle::Voltage(float db, float vref) {
  return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0f) * static_cast<double>(vref));
}

void ConverterOracle::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back(
      {"converter.oracle",
       "the level converter writes exactly the conversion computed independently, after every edit", true,
       true, &Run});
}

CheckResult ConverterOracle::Run(CheckContext& context) {
  CheckResult result;
  if (!context.Ready(&result)) return result;
  // Only the converter, known by its id, whatever any other module can make.
  const char* module_id = context.Properties().id;
  if (module_id == nullptr || std::strncmp(module_id, CONVERTER_ID, sizeof CONVERTER_ID) != 0)
    return CheckResult::Inapplicable("not the level converter: id " +
                                     TextFormat::Printable(TextFormat::Quoted(module_id, 64)));
  std::vector<CheckContext::Pin> pins;
  if (!context.DescribePins(&pins, &result)) return result;
  const std::string wrong = WrongPins(pins);
  if (!wrong.empty())
    return CheckResult::Fail("the level converter's pins", "\"Voltage\", \"Vref\" and \"dB\", all floats",
                             wrong);

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
      if (to_db)
        db = expected;
      else
        voltage = expected;

      const size_t first = harness.Writes().size();
      harness.Gui(id).EditFloat(pin, value);
      const std::string call = "edit " + std::to_string(k + 1) + " of sequence " + std::to_string(s + 1) +
                               ": " + pins[static_cast<size_t>(pin)].name + " = " + TextFormat::Float(value) +
                               " (Voltage " + TextFormat::Float(voltage) + ", Vref " +
                               TextFormat::Float(vref) + ", dB " + TextFormat::Float(db) +
                               " expected after it)";
      const std::string want = pins[static_cast<size_t>(target)].name + " = " + TextFormat::Float(expected);
      const size_t writes = harness.Writes().size() - first;
      if (writes != 1)
        return CheckResult::Fail(call, "one write, " + want, std::to_string(writes) + " writes");
      const HostHarness::Write& w = harness.Writes()[first];
      if (w.pin != target || !TextFormat::SameFloat(w.opt, expected))
        return CheckResult::Fail(
            call, want,
            (w.pin >= 0 && static_cast<size_t>(w.pin) < pins.size() ? pins[static_cast<size_t>(w.pin)].name
                                                                    : "pin " + std::to_string(w.pin)) +
                " = " + TextFormat::Float(w.opt));
      ++checked;
    }
    harness.Close(id);
  }
  return CheckResult::Pass(std::to_string(checked) + " writes checked");
}
