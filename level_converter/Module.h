// DSP side of the level converter: declares the three pins, which live on the
// GUI side only, and asks the host to let it sleep.
#ifndef LEVEL_CONVERTER_MODULE_H
#define LEVEL_CONVERTER_MODULE_H

#include <cstdint>

#include "QXModule_base.h"

class Module : public QXModule_base {
 public:
  Module(::qxaudioMaster callback, QXWord host_data) : QXModule_base(callback, host_data) {}
  ~Module() override = default;

  // Installs ProcessSleep before the base builds the pins.
  void Open() override;
  bool GetPinProperties(int32_t index, QXPinProperties* properties) override;
  void ProcessSleep(int32_t offset, int32_t count);
};

#endif  // LEVEL_CONVERTER_MODULE_H
