// A DSP instance for tests: describes the pins it is given and records the
// hooks the base calls.
#ifndef TESTS_DESCRIBEDMODULE_H
#define TESTS_DESCRIBEDMODULE_H

#include <string>
#include <utility>
#include <vector>

#include "QXModule_base.h"
#include "QXPin.h"

class DescribedModule : public QXModule_base {
 public:
  DescribedModule(::qxaudioMaster callback, QXWord host_data, std::vector<QXPinProperties> table = {})
      : QXModule_base(callback, host_data), descriptions(std::move(table)) {}
  ~DescribedModule() override {
    if (outlives != nullptr) outlives->push_back("destroyed");
  }

  bool GetPinProperties(int32_t index, QXPinProperties* properties) override {
    asked.push_back(index);
    if (index < 0 || index >= static_cast<int32_t>(descriptions.size())) return false;
    *properties = descriptions[static_cast<size_t>(index)];
    return true;
  }
  void OnPinStatusChange(QXPin* pin) override {
    trace.push_back("status " + std::to_string(pin->Id()) + " " + std::to_string(pin->Status()));
  }
  void OnDataEvent(uint32_t time_stamp, int32_t arg1, int16_t arg2) override {
    trace.push_back("data " + std::to_string(time_stamp) + " " + std::to_string(arg1) + " " +
                    std::to_string(arg2));
  }
  void OnNotify() override { trace.push_back("notify"); }
  void OnNotifyIndex(int32_t index) override { trace.push_back("notify " + std::to_string(index)); }
  void OnMessage(int32_t value, int32_t index, void*) override {
    trace.push_back("message " + std::to_string(value) + " " + std::to_string(index));
  }
  void Close() override {
    trace.push_back("close");
    if (outlives != nullptr) outlives->push_back("close");
  }

  // Functions for run-function events and process functions.
  void Tick() { trace.push_back("tick " + std::to_string(SampleClock())); }
  virtual void VirtualTick() { trace.push_back("virtual tick " + std::to_string(SampleClock())); }
  void Process(int32_t offset, int32_t count) {
    trace.push_back("process " + std::to_string(offset) + " " + std::to_string(count));
  }
  // Run functions with a result, which the event ignores.
  int32_t Counted() {
    trace.push_back("counted " + std::to_string(SampleClock()));
    return static_cast<int32_t>(trace.size());
  }
  const char* Named() const {
    const_cast<DescribedModule*>(this)->trace.push_back("named");
    return "named";
  }
  // As many distinct run functions as a test asks for.
  template <int N>
  void Numbered() {
    trace.push_back("numbered " + std::to_string(N));
  }
  // Posts Numbered<FIRST> .. Numbered<FIRST + COUNT - 1> for `clock`.
  template <int FIRST, int COUNT>
  void PostNumbered(uint32_t clock) {
    PostNumbered<FIRST>(clock, std::make_integer_sequence<int, COUNT>());
  }
  template <int FIRST, int... I>
  void PostNumbered(uint32_t clock, std::integer_sequence<int, I...>) {
    (RunDelayed(clock, &DescribedModule::Numbered<FIRST + I>), ...);
  }

  // Also reads audio pin 0 at the first sample of the stretch.
  void ProcessAndRead(int32_t offset, int32_t count) {
    trace.push_back("read " + std::to_string(offset) + " " + std::to_string(count) + " " +
                    std::to_string(GetPin(0)->SampleValue()));
  }
  // Posts one Tick for ten samples past the first block it processes.
  void ProcessAndPost(int32_t offset, int32_t count) {
    Process(offset, count);
    if (!posted) RunDelayed(SampleClock() + static_cast<uint32_t>(count) + 10, &DescribedModule::Tick);
    posted = true;
  }

  std::vector<QXPinProperties> descriptions;
  std::vector<int32_t> asked;
  std::vector<std::string> trace;
  // Where the close hook and the destructor also leave a line, for tests that
  // look after the instance is gone.
  std::vector<std::string>* outlives = nullptr;
  bool posted = false;
};

// A description with the given type and flags.
inline QXPinProperties Description(int32_t datatype, int32_t flags = 0, void* variable = nullptr,
                                   int32_t direction = DR_IN) {
  QXPinProperties p{};
  p.variable_address = variable;
  p.direction = direction;
  p.datatype = datatype;
  p.name = "pin";
  p.flags = flags;
  return p;
}

#endif  // TESTS_DESCRIBEDMODULE_H
