// A module that floods its host: in every process call it posts 100000
// events for a clock far ahead (a million samples on), and passes its audio
// input to its output. A host that keeps every pending event grows without
// bound; the reference host keeps a bounded number and refuses the rest.
#include "QXGUI_base.h"
#include "QXModuleExports.h"
#include "QXModule_base.h"
#include "QXPin.h"

namespace {

class EventStorm : public QXModule_base {
 public:
  static constexpr int POSTS_PER_CALL = 100000;
  static constexpr uint32_t AHEAD = 1000000;

  EventStorm(::qxaudioMaster callback, QXWord host_data) : QXModule_base(callback, host_data) {}

  bool GetPinProperties(int32_t index, QXPinProperties* properties) override {
    if (index < 0 || index > 1) return false;
    properties->name = index == 0 ? "In" : "Out";
    properties->direction = index == 0 ? DR_IN : DR_OUT;
    properties->datatype = DT_FSAMPLE;
    return true;
  }
  void Open() override {
    SetProcessFunction(static_cast<QXProcessFunction>(&EventStorm::Process));
    QXModule_base::Open();
    if (PinCount() < 2) return;
    m_in = GetPin(0)->SampleBuffer();
    m_out = GetPin(1)->SampleBuffer();
  }
  void Process(int32_t offset, int32_t count) {
    const uint32_t now = SampleClock();
    for (int i = 0; i < POSTS_PER_CALL; ++i)
      AddEvent(now + AHEAD + static_cast<uint32_t>(i), ET_DATA, i, 0, 0);
    if (m_in == nullptr) return;
    for (int32_t i = offset; i < offset + count; ++i) m_out[i] = m_in[i];
  }

 private:
  float* m_in = nullptr;
  float* m_out = nullptr;
};

class EventStormGui : public QXGUI_base {
 public:
  EventStormGui(::qxaudioMaster callback, QXWord host_data) : QXGUI_base(callback, host_data) {}
};

}  // namespace

QX_MODULE_EXPORTS(EventStorm, EventStormGui, "event_storm",
                  "event_storm, version 1.0\n\nPosts 100000 events far ahead in every process call.")
