// A pin as a module's DSP instance describes it (DSP_OP_GET_PIN_PROPERTIES);
// GUI pins use the same indices. What the host keeps of a QXPinProperties.
#ifndef HOST_PINDESCRIPTION_H
#define HOST_PINDESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "QXHostInterface.h"

struct PinDescription {
  // Longest pin list the host accepts from a module.
  static constexpr int32_t MAX_PINS = 1024;

  int32_t index;
  std::string name;
  int32_t direction;
  int32_t datatype;
  int32_t flags;

  // A user-interface pin without a DSP-side pin.
  bool GuiOnly() const { return (flags & IO_UI_COMMUNICATION) != 0 && (flags & IO_UI_DSP_SHARED) == 0; }

  // The pin count the host answers the DSP instance: the pins that are not GUI-only.
  static int32_t DspCount(const std::vector<PinDescription>& pins) {
    int32_t count = 0;
    for (const PinDescription& pin : pins) count += pin.GuiOnly() ? 0 : 1;
    return count;
  }
};

#endif  // HOST_PINDESCRIPTION_H
