// The GUI side of the gain: keeps "Gain (dB)" within the range the DSP side
// uses. A value outside it (or no number) is written back held to the range;
// the host may report that write back at once, which the guard ignores.
#ifndef EXAMPLES_GAIN_GAINGUI_H
#define EXAMPLES_GAIN_GAINGUI_H

#include <cstdint>

#include "QXGUI_base.h"

class GainGui : public QXGUI_base {
 public:
  // The pin's index as the host numbers the module's pins.
  static constexpr int32_t GAIN_PIN = 2;

  GainGui(::qxaudioMaster callback, QXWord host_data) : QXGUI_base(callback, host_data) {}
  void OnPinValueChanged(QXGuiPin* pin) override;

 private:
  bool m_busy = false;  // inside OnPinValueChanged: an echo of our own write
};

#endif  // EXAMPLES_GAIN_GAINGUI_H
