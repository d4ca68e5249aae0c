// The gain example with the fault of a module that takes its input buffer
// for scratch space: it computes its output, then clears the input it read.
// The host owns that buffer (in a modular host it is the output of the module
// upstream, which others read too), which dsp.input-buffers must see.
#include <algorithm>

#include "GainGui.h"
#include "GainModule.h"
#include "QXModuleExports.h"

namespace {

class ClearsInput : public GainModule {
 public:
  ClearsInput(::qxaudioMaster callback, QXWord host_data) : GainModule(callback, host_data) {}
  void Open() override {
    GainModule::Open();
    SetProcessFunction(static_cast<QXProcessFunction>(&ClearsInput::ProcessAndClear));
  }
  void ProcessAndClear(int32_t offset, int32_t count) {
    Process(offset, count);
    float* in = GetPin(IN)->SampleBuffer();
    if (in != nullptr) std::fill(in + offset, in + offset + count, 0.0f);
  }
};

}  // namespace

QX_MODULE_EXPORTS(ClearsInput, GainGui, "gain_writes_input",
                  "gain_writes_input, version 1.0\n\nA gain that clears its input buffer.")
