// The DSP side of the gain: one audio input, one audio output and "Gain (dB)",
// a control pin the GUI shares with the DSP side. The host writes the pin's
// variable and reports the change as an event at its sample; from that very
// sample the gain moves to the new value, in a short linear ramp so that the
// change does not click.
#ifndef EXAMPLES_GAIN_GAINMODULE_H
#define EXAMPLES_GAIN_GAINMODULE_H

#include <cstdint>

#include "QXModule_base.h"
#include "QXPin.h"

class GainModule : public QXModule_base {
 public:
  // DSP-side pin ids, which are also the pins' places in the description list.
  enum : int32_t { IN = 0, OUT = 1, GAIN = 2, PINS = 3 };
  // How long a change of gain takes, in seconds of audio.
  static constexpr double RAMP_SECONDS = 0.005;
  // The range the pin's value is held to, in dB.
  static constexpr float MIN_DB = -120.0f;
  static constexpr float MAX_DB = 24.0f;

  GainModule(::qxaudioMaster callback, QXWord host_data) : QXModule_base(callback, host_data) {}

  bool GetPinProperties(int32_t index, QXPinProperties* properties) override;
  // Installs Process, lets the base build the pins, then keeps the buffers'
  // addresses, which the host does not change after open.
  void Open() override;
  void OnPinStatusChange(QXPin* pin) override;
  // out = in * gain over [offset, offset + count), nothing else.
  void Process(int32_t offset, int32_t count);

 protected:
  // Sets out for the gain the pin holds now: at once if no sample has been
  // processed yet, else over the ramp from the current sample on.
  void TakeGain();

 private:
  float m_gain_db = 0.0f;  // the pin's variable: the host writes it
  float* m_in = nullptr;
  float* m_out = nullptr;
  float m_gain = 1.0f;    // the factor applied to the next sample
  float m_target = 1.0f;  // where the ramp ends
  float m_step = 0.0f;    // added per sample while ramping
  int32_t m_ramp_left = 0;
  bool m_started = false;  // a sample has been processed
};

#endif  // EXAMPLES_GAIN_GAINMODULE_H
