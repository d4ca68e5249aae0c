// The gain example with a module author's mistake: a scratch buffer sized for
// the first block size the host announces and never grown, so that a larger
// block writes past its end. Often nothing crashes until free() or malloc()
// trips over the damage; the validator must still say where it was done.
#include "GainGui.h"
#include "GainModule.h"
#include "QXModuleExports.h"

namespace {

class Overruns : public GainModule {
 public:
  Overruns(::qxaudioMaster callback, QXWord host_data) : GainModule(callback, host_data) {}
  Overruns(const Overruns&) = delete;
  Overruns& operator=(const Overruns&) = delete;
  ~Overruns() override { delete[] m_scratch; }
  void Open() override {
    GainModule::Open();
    SetProcessFunction(static_cast<QXProcessFunction>(&Overruns::ProcessThroughScratch));
  }
  void SetBlockSize(int32_t size) override {
    GainModule::SetBlockSize(size);
    if (m_scratch == nullptr && size > 0) m_scratch = new float[static_cast<size_t>(size)];
  }
  // Keeps the block's input in the scratch buffer, then processes.
  void ProcessThroughScratch(int32_t offset, int32_t count) {
    const float* in = GetPin(IN)->SampleBuffer();
    if (m_scratch != nullptr && in != nullptr) {
      for (int32_t n = 0; n < count; ++n) m_scratch[n] = in[offset + n];
    }
    Process(offset, count);
  }

 private:
  float* m_scratch = nullptr;
};

}  // namespace

QX_MODULE_EXPORTS(Overruns, GainGui, "gain_overruns",
                  "gain_overruns, version 1.0\n\nA gain whose scratch buffer keeps the first block size.")
