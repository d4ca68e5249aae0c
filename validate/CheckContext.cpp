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
  const uint64_t seq = m_trace != nullptr ? m_trace->NextSeq() : 0;
  const double time = TraceWriter::Now();
  bool answer;
  {
    AllocationCounter::Scope module(true);
    answer = m_get_properties(index, properties);
  }
  if (m_trace != nullptr)
    m_trace->Write(TraceWriter::Entry{TraceWriter::Kind::GET_PROPERTIES, seq, time, 0, nullptr, 0, index, 0,
                                      properties, 0.0f, answer ? 1 : 0});
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
  if (dsp < 0) {
    *result = CheckResult::Fail("makeModule(0, 1)", "a DSP instance", "null");
    return false;
  }
  if (!PinDescription::ReadList(harness.Dsp(dsp), pins)) {
    *result = CheckResult::Fail("DSP_OP_GET_PIN_PROPERTIES", "a pin list that ends within " +
                                std::to_string(Pin::MAX_LIST) + " pins", "more");
    return false;
  }
  harness.Close(dsp);
  return true;
}
