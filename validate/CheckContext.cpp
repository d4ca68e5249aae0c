#include "CheckContext.h"

#include "AllocationCounter.h"
#include "HostHarness.h"
#include "ModuleLibrary.h"

CheckContext::CheckContext(std::string module, uint64_t seed, int size, TraceWriter* trace)
    : m_module(std::move(module)), m_seed(seed), m_size(size), m_random(seed), m_trace(trace) {}

bool CheckContext::Load(std::string* error) {
  if (!m_library.Open(m_module, error)) return false;
  m_get_properties = reinterpret_cast<QXGetModulePropertiesFunction>(m_library.Find("getModuleProperties"));
  m_make_module = reinterpret_cast<QXMakeModuleFunction>(m_library.Find("makeModule"));
  return true;
}

void CheckContext::Unload() {
  m_library.Close();
  m_get_properties = nullptr;
  m_make_module = nullptr;
}

bool CheckContext::GetProperties(int32_t index, QXModuleProperties* properties) {
  TraceWriter::Entry entry{
      TraceWriter::Kind::GET_PROPERTIES, 0, 0.0, 0, nullptr, 0, index, 0, properties, 0.0f, 0};
  if (m_trace != nullptr && m_trace->Active()) m_trace->Begin(&entry);
  bool answer;
  {
    AllocationCounter::Scope module(true);
    answer = m_get_properties(index, properties);
  }
  entry.result = answer ? 1 : 0;
  if (m_trace != nullptr && m_trace->Active()) m_trace->End(entry);
  return answer;
}

bool CheckContext::Exported(CheckResult* result) {
  std::string error;
  if (!m_library.IsOpen() && !Load(&error)) {
    *result = CheckResult::Skip("the module does not load: " + error);
    return false;
  }
  if (m_get_properties == nullptr || m_make_module == nullptr) {
    *result = CheckResult::Skip("the module lacks an export");
    return false;
  }
  return true;
}

bool CheckContext::Ready(CheckResult* result) {
  if (!Exported(result)) return false;
  m_properties = QXModuleProperties{};
  ModuleLibrary::Failure failure;
  std::string reason;
  if (!ModuleLibrary::Admit(GetProperties(0, &m_properties), m_properties, &failure, &reason)) {
    *result = CheckResult::Skip("the host refuses the module: " + reason);
    return false;
  }
  return true;
}

bool CheckContext::DescribePins(std::vector<Pin>* pins, CheckResult* result) {
  HostHarness harness(m_make_module, m_trace);
  const int dsp = harness.MakeDsp(0);
  // Each fault is reported once, by the check about it; the others skip.
  if (dsp < 0) {
    *result = CheckResult::Skip(
        "makeModule(0, 1) gives no DSP instance to describe the pins (see factory.records)");
    return false;
  }
  if (!PinDescription::ReadList(harness.Dsp(dsp), pins)) {
    *result = CheckResult::Skip("the pin list does not end within " + std::to_string(Pin::MAX_LIST) +
                                " descriptions (see dsp.pin-list)");
    return false;
  }
  harness.Close(dsp);
  return true;
}
