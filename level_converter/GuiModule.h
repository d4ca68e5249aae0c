// GUI side of the level converter: keeps "Voltage" (pin 0), "Vref" (pin 1)
// and "dB" (pin 2) consistent. A reported "Voltage" rewrites "dB", a reported
// "dB" rewrites "Voltage", and a new "Vref" repeats the last direction.
#ifndef LEVEL_CONVERTER_GUIMODULE_H
#define LEVEL_CONVERTER_GUIMODULE_H

#include <cstdint>

#include "QXGUI_base.h"

// Final: the record's entry calls straight into this class (UseEntryOf).
class GuiModule final : public QXGUI_base {
 public:
  enum : int16_t { MODE_VOLTAGE_TO_DB = 1, MODE_DB_TO_VOLTAGE = 2 };
  enum : int32_t { PIN_VOLTAGE = 0, PIN_VREF = 1, PIN_DB = 2 };

  // Reads "Vref" through the host before the host has the record.
  GuiModule(::qxaudioMaster callback, QXWord host_data);
  ~GuiModule() override = default;

  void OnPinValueChanged(QXGuiPin* pin) override;

  // The two conversions, single-precision in and out, double-precision between,
  // rounded once when stored.
  static float VoltageToDb(float voltage, float vref);
  static float DbToVoltage(float db, float vref);

 private:
  float m_voltage;
  float m_db;
  float m_vref;
  bool m_busy;
  int16_t m_mode;
};

#endif  // LEVEL_CONVERTER_GUIMODULE_H
