#include "PinDescription.h"

#include <cstring>

#include "DspHost.h"

int32_t PinDescription::DspCount(const std::vector<PinDescription>& pins) {
  int32_t count = 0;
  for (const PinDescription& pin : pins) count += pin.GuiOnly() ? 0 : 1;
  return count;
}

std::vector<int32_t> PinDescription::DspIds(const std::vector<PinDescription>& pins) {
  std::vector<int32_t> ids;
  ids.reserve(pins.size());
  int32_t next = 0;
  for (const PinDescription& pin : pins) ids.push_back(pin.GuiOnly() ? -1 : next++);
  return ids;
}

bool PinDescription::ReadList(DspHost& host, std::vector<PinDescription>* pins) {
  pins->clear();
  for (int32_t i = 0; i < MAX_LIST; ++i) {
    QXPinProperties p{};
    if (host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, i, 0, &p) == 0) return true;
    const std::string name = p.name != nullptr ? std::string(p.name, strnlen(p.name, MAX_NAME)) : "";
    pins->push_back(PinDescription{i, name, p.direction, p.datatype, p.flags, p.variable_address});
  }
  QXPinProperties p{};
  return host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, MAX_LIST, 0, &p) == 0;
}
