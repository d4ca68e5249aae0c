#include "PinDescription.h"

#include <cstring>

#include "DspHost.h"

int32_t PinDescription::DspCount(const std::vector<PinDescription>& pins) {
  int32_t count = 0;
  for (const PinDescription& pin : pins) count += pin.GuiOnly() ? 0 : 1;
  return count;
}

bool PinDescription::ReadList(DspHost& host, std::vector<PinDescription>* pins) {
  pins->clear();
  for (int32_t i = 0; i < MAX_LIST; ++i) {
    QXPinProperties p{};
    if (host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, i, 0, &p) == 0) return true;
    const std::string name = p.name != nullptr ? std::string(p.name, strnlen(p.name, MAX_NAME)) : "";
    pins->push_back(PinDescription{i, name, p.direction, p.datatype, p.flags});
  }
  QXPinProperties p{};
  return host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, MAX_LIST, 0, &p) == 0;
}
