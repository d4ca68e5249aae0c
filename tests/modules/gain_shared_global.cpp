// The gain example with the fault of a module that passes its gain from the
// GUI side to the DSP side through a global variable: the DSP side ignores
// its own pin, so every instance plays the gain of the GUI edited last.
#include <cmath>

#include "GainGui.h"
#include "GainModule.h"
#include "QXModuleExports.h"

namespace {

float g_gain_db = 0.0f;

class GlobalGainGui : public GainGui {
 public:
  GlobalGainGui(::qxaudioMaster callback, QXWord host_data) : GainGui(callback, host_data) {}
  void OnPinValueChanged(QXGuiPin* pin) override {
    GainGui::OnPinValueChanged(pin);
    if (pin->GetIndex() == GAIN_PIN) g_gain_db = pin->GetValueFloat();
  }
};

class GlobalGain : public GainModule {
 public:
  GlobalGain(::qxaudioMaster callback, QXWord host_data) : GainModule(callback, host_data) {}
  void Open() override {
    GainModule::Open();
    SetProcessFunction(static_cast<QXProcessFunction>(&GlobalGain::ProcessGlobal));
  }
  void ProcessGlobal(int32_t offset, int32_t count) {
    if (PinCount() < PINS) return;
    const float* in = GetPin(IN)->SampleBuffer();
    float* out = GetPin(OUT)->SampleBuffer();
    if (in == nullptr || out == nullptr) return;
    const float gain = std::pow(10.0f, g_gain_db / 20.0f);
    for (int32_t i = offset; i < offset + count; ++i) out[i] = in[i] * gain;
  }
};

}  // namespace

QX_MODULE_EXPORTS(GlobalGain, GlobalGainGui, "gain_shared_global",
                  "gain_shared_global, version 1.0\n\nA gain whose sides share a global.")
