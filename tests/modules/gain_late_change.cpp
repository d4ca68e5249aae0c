// The gain example with the fault of a parameter read at block rate: it notes
// the change's event but takes the new gain only where a process call starts
// a block (offset 0), up to a block late. Its output depends on the block
// size, which dsp.process-formats must see.
#include "GainGui.h"
#include "GainModule.h"
#include "QXModuleExports.h"

namespace {

class LateGain : public GainModule {
 public:
  LateGain(::qxaudioMaster callback, QXWord host_data) : GainModule(callback, host_data) {}
  void Open() override {
    GainModule::Open();
    SetProcessFunction(static_cast<QXProcessFunction>(&LateGain::ProcessByBlock));
  }
  void OnPinStatusChange(QXPin* pin) override {
    if (pin->Id() == GAIN) m_changed = true;
  }
  void ProcessByBlock(int32_t offset, int32_t count) {
    if (offset == 0 && m_changed) {
      TakeGain();
      m_changed = false;
    }
    Process(offset, count);
  }

 private:
  bool m_changed = false;
};

}  // namespace

QX_MODULE_EXPORTS(LateGain, GainGui, "gain_late_change",
                  "gain_late_change, version 1.0\n\nA gain that takes a change late.")
