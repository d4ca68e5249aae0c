#include "GainModule.h"

#include <algorithm>
#include <cmath>

namespace {

struct Pin {
  const char* name;
  int32_t direction;
  int32_t datatype;
  int32_t flags;
};

const Pin PIN_TABLE[] = {
    {"In", DR_IN, DT_FSAMPLE, 0},
    {"Out", DR_OUT, DT_FSAMPLE, 0},
    // Set on the GUI side, read on the DSP side.
    {"Gain (dB)", DR_IN, DT_FLOAT, IO_UI_COMMUNICATION | IO_UI_DSP_SHARED},
};

}  // namespace

bool GainModule::GetPinProperties(int32_t index, QXPinProperties* properties) {
  if (index < 0 || index >= PINS) return false;
  const Pin& pin = PIN_TABLE[index];
  properties->name = pin.name;
  properties->direction = pin.direction;
  properties->datatype = pin.datatype;
  properties->flags = pin.flags;
  // The audio pins keep their buffer addresses in storage of their own.
  properties->variable_address = index == GAIN ? &m_gain_db : nullptr;
  return true;
}

void GainModule::Open() {
  SetProcessFunction(static_cast<QXProcessFunction>(&GainModule::Process));
  QXModule_base::Open();
  // Without the three pins (no host callback, or a host with fewer pins) the
  // module has no buffers and processes nothing.
  const bool pins = PinCount() >= PINS;
  m_in = pins ? GetPin(IN)->SampleBuffer() : nullptr;
  m_out = pins ? GetPin(OUT)->SampleBuffer() : nullptr;
  TakeGain();
}

void GainModule::OnPinStatusChange(QXPin* pin) {
  if (pin->Id() == GAIN) TakeGain();
}

void GainModule::TakeGain() {
  // A value that is no number keeps the gain as it is.
  if (!std::isfinite(m_gain_db)) return;
  const float db = std::min(std::max(m_gain_db, MIN_DB), MAX_DB);
  m_target = std::pow(10.0f, db / 20.0f);
  const auto ramp = static_cast<int32_t>(std::lround(RAMP_SECONDS * static_cast<double>(SampleRate())));
  if (!m_started || ramp <= 1) {
    m_gain = m_target;
    m_ramp_left = 0;
    return;
  }
  m_ramp_left = ramp;
  m_step = (m_target - m_gain) / static_cast<float>(ramp);
}

void GainModule::Process(int32_t offset, int32_t count) {
  if (m_in == nullptr || m_out == nullptr) return;
  m_started = true;
  const float* in = m_in + offset;
  float* out = m_out + offset;
  for (int32_t i = 0; i < count; ++i) {
    // The ramp's last step lands on the target exactly.
    if (m_ramp_left > 0) m_gain = --m_ramp_left == 0 ? m_target : m_gain + m_step;
    out[i] = in[i] * m_gain;
  }
}
