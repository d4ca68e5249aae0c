// A pin as a module's DSP instance describes it (DSP_OP_GET_PIN_PROPERTIES);
// GUI pins use the same indices. What the host keeps of a QXPinProperties,
// and the one reading of a module's pin list.
#ifndef HOST_PINDESCRIPTION_H
#define HOST_PINDESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "QXHostInterface.h"

class DspHost;

struct PinDescription {
  // Longest pin list the host reads from a module.
  static constexpr int32_t MAX_LIST = 1024;
  // Longest pin name the host reads, terminated or not.
  static constexpr size_t MAX_NAME = 256;

  int32_t index;
  std::string name;
  int32_t direction;
  int32_t datatype;
  int32_t flags;
  // The describing instance's variable for the value; null for storage of its
  // own. Another instance's variable is elsewhere.
  void* variable_address = nullptr;

  // A user-interface pin without a DSP-side pin.
  bool GuiOnly() const { return (flags & IO_UI_COMMUNICATION) != 0 && (flags & IO_UI_DSP_SHARED) == 0; }

  // The pin count the host answers the DSP instance: the pins that are not GUI-only.
  static int32_t DspCount(const std::vector<PinDescription>& pins);
  // Each description's DSP-side pin id, its place among those that are not
  // GUI-only; -1 for a GUI-only one.
  static std::vector<int32_t> DspIds(const std::vector<PinDescription>& pins);

  // Asks the instance `host` drives for its descriptions, from index 0 until
  // it answers 0. False if the list has not ended within MAX_LIST
  // descriptions; `pins` then holds the first MAX_LIST.
  static bool ReadList(DspHost& host, std::vector<PinDescription>* pins);
};

#endif  // HOST_PINDESCRIPTION_H
