#include "Module.h"

namespace {

struct PinDescription {
  const char* name;
  int32_t direction;
};

// "Voltage", "Vref" and "dB": float values that pass between the host and the
// GUI side only.
const PinDescription PINS[] = {{"Voltage", DR_IN}, {"Vref", DR_IN}, {"dB", DR_OUT}};
constexpr int32_t PIN_COUNT = static_cast<int32_t>(sizeof PINS / sizeof PINS[0]);

}  // namespace

void Module::Open() {
  SetProcessFunction(static_cast<QXProcessFunction>(&Module::ProcessSleep));
  QXModule_base::Open();
}

bool Module::GetPinProperties(int32_t index, QXPinProperties* properties) {
  if (index < 0 || index >= PIN_COUNT) return false;
  // Only these four fields: the host's values in the others stay.
  properties->name = PINS[index].name;
  properties->direction = PINS[index].direction;
  properties->datatype = DT_FLOAT;
  properties->flags = IO_UI_COMMUNICATION;
  return true;
}

void Module::ProcessSleep(int32_t /*offset*/, int32_t /*count*/) {
  CallHost(HOST_OP_SLEEP, 0, 0, nullptr, 0.0f);
}
