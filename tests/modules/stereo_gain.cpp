// A module with two audio inputs and two outputs, each output its own input
// times "Gain" (a factor, taken at once), and a GUI-only pin first: the
// control pin's place in the description list (5) is not its DSP-side pin id
// (4), and a file's channels must reach the inputs in their order. Careless
// in two ways a host must survive: it changes the working folder to the
// root when opened, and a negative Gain stops the process (abort) in its
// second process call, in the middle of a file.
#include <cstdlib>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "QXGUI_base.h"
#include "QXModuleExports.h"
#include "QXModule_base.h"
#include "QXPin.h"

namespace {

struct PinRow {
  const char* name;
  int32_t direction;
  int32_t datatype;
  int32_t flags;
};

const PinRow PIN_TABLE[] = {
    {"Title", DR_IN, DT_FLOAT, IO_UI_COMMUNICATION},  // the GUI's alone: no DSP-side pin
    {"In L", DR_IN, DT_FSAMPLE, 0},
    {"In R", DR_IN, DT_FSAMPLE, 0},
    {"Out L", DR_OUT, DT_FSAMPLE, 0},
    {"Out R", DR_OUT, DT_FSAMPLE, 0},
    {"Gain", DR_IN, DT_FLOAT, IO_UI_COMMUNICATION | IO_UI_DSP_SHARED},
};
constexpr int32_t DESCRIPTIONS = 6;
// DSP-side pin ids.
enum : int32_t { IN_L = 0, IN_R = 1, OUT_L = 2, OUT_R = 3, GAIN = 4, DSP_PINS = 5 };

class StereoGain : public QXModule_base {
 public:
  StereoGain(::qxaudioMaster callback, QXWord host_data) : QXModule_base(callback, host_data) {}

  bool GetPinProperties(int32_t index, QXPinProperties* properties) override {
    if (index < 0 || index >= DESCRIPTIONS) return false;
    const PinRow& pin = PIN_TABLE[index];
    properties->name = pin.name;
    properties->direction = pin.direction;
    properties->datatype = pin.datatype;
    properties->flags = pin.flags;
    properties->variable_address = index == DESCRIPTIONS - 1 ? &m_gain : nullptr;
    return true;
  }
  void Open() override {
#ifndef _WIN32
    if (chdir("/") != 0) return;
#endif
    SetProcessFunction(static_cast<QXProcessFunction>(&StereoGain::Process));
    QXModule_base::Open();
    if (PinCount() < DSP_PINS) return;
    for (int32_t id = 0; id < 4; ++id) m_buffers[id] = GetPin(id)->SampleBuffer();
  }
  void Process(int32_t offset, int32_t count) {
    if (m_gain < 0.0f && ++m_calls == 2) std::abort();
    if (m_buffers[0] == nullptr) return;
    for (int32_t i = offset; i < offset + count; ++i) {
      m_buffers[OUT_L][i] = m_buffers[IN_L][i] * m_gain;
      m_buffers[OUT_R][i] = m_buffers[IN_R][i] * m_gain;
    }
  }

 private:
  float m_gain = 1.0f;  // the pin's variable: the host writes it
  float* m_buffers[4] = {};
  int m_calls = 0;
};

class StereoGainGui : public QXGUI_base {
 public:
  StereoGainGui(::qxaudioMaster callback, QXWord host_data) : QXGUI_base(callback, host_data) {}
};

}  // namespace

QX_MODULE_EXPORTS(StereoGain, StereoGainGui, "stereo_gain",
                  "stereo_gain, version 1.0\n\nTwo channels, each times Gain.")
