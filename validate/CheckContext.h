// What a validation check works with: the module file, its two exports
// (called through here so that they are traced), the run's seed and size, and
// the pin list a DSP instance describes.
#ifndef VALIDATE_CHECKCONTEXT_H
#define VALIDATE_CHECKCONTEXT_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "CheckResult.h"
#include "PinDescription.h"
#include "QXHostInterface.h"
#include "SharedLibrary.h"
#include "TraceWriter.h"

class CheckContext {
 public:
  using Pin = PinDescription;

  CheckContext(std::string module, uint64_t seed, int size, TraceWriter* trace);

  const std::string& Module() const { return m_module; }
  uint64_t Seed() const { return m_seed; }
  // How much work sized checks do (opcodes swept, edits made, blocks run).
  int Size() const { return m_size; }
  std::mt19937_64& Random() { return m_random; }
  TraceWriter* Trace() { return m_trace; }

  // Opens the library and looks up both exports (either may be missing).
  bool Load(std::string* error);
  void Unload();
  SharedLibrary& Library() { return m_library; }
  QXGetModulePropertiesFunction GetPropertiesExport() const { return m_get_properties; }
  QXMakeModuleFunction MakeModuleExport() const { return m_make_module; }

  // getModuleProperties, traced.
  bool GetProperties(int32_t index, QXModuleProperties* properties);

  // The library loaded and both exports found. False and `result` set to a
  // skip otherwise.
  bool Exported(CheckResult* result);
  // Everything an instance check needs: Exported, and module 0 admitted as
  // the host admits it before it creates instances. False and `result` set to
  // a skip otherwise.
  bool Ready(CheckResult* result);
  // Module 0's properties as read by Ready.
  const QXModuleProperties& Properties() const { return m_properties; }

  // The pins a DSP instance describes (through a harness of its own). False
  // and `result` set to a skip if the module gives no DSP instance or its
  // list does not end: factory.records and dsp.pin-list report those.
  bool DescribePins(std::vector<Pin>* pins, CheckResult* result);
  // What most checks begin with: Ready, then DescribePins.
  bool Prepare(std::vector<Pin>* pins, CheckResult* result) {
    return Ready(result) && DescribePins(pins, result);
  }

 private:
  std::string m_module;
  uint64_t m_seed;
  int m_size;
  std::mt19937_64 m_random;
  TraceWriter* m_trace;
  SharedLibrary m_library;
  QXGetModulePropertiesFunction m_get_properties = nullptr;
  QXMakeModuleFunction m_make_module = nullptr;
  QXModuleProperties m_properties{};
};

#endif  // VALIDATE_CHECKCONTEXT_H
