// Base class of every DSP-side instance: owns the record the host holds,
// routes the host's DSP_OP_* calls to virtual operations, builds the instance's
// pins on open, keeps the current process function and exchanges timed events
// with the host.
#ifndef QX_SDK2_QXMODULE_BASE_H
#define QX_SDK2_QXMODULE_BASE_H

#include <cstdint>
#include <type_traits>

#include "QXHostInterface.h"

class QXPin;
class QXModule_base;

// A process function: a non-virtual member function of the module class that
// the host calls through `process_entry` with the object address first.
using QXProcessFunction = void (QXModule_base::*)(int32_t offset, int32_t count);
// A function that a run-function event runs on the instance.
using QXRunFunction = void (QXModule_base::*)();

// The host reads a member-function pointer as two words: the code address (or
// a virtual function's table offset plus 1), then the object adjustment. That
// is the form GCC and Clang use on every target we build.
static_assert(sizeof(QXProcessFunction) == 2 * sizeof(void*), "two-word member-function pointer");
static_assert(sizeof(QXRunFunction) == 2 * sizeof(void*), "two-word member-function pointer");

class QXModule_base {
 public:
  QXModule_base(::qxaudioMaster callback, QXWord host_data);
  virtual ~QXModule_base();
  // The record holds this object's address: a copy would point at the original.
  QXModule_base(const QXModule_base&) = delete;
  QXModule_base& operator=(const QXModule_base&) = delete;

  // The record the host holds for this instance.
  QXModuleStruct* ModuleStruct() { return &m_module_struct; }

  // Virtual operations, in the order of the host-visible table.
  virtual void OnPinStatusChange(QXPin* /*pin*/) {}
  virtual void OnEvent(QXEvent* e);
  virtual QXWord Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  virtual void Open();
  virtual void Close() {}
  virtual void Reserved1() {}
  virtual void SetSampleRate(float rate) { m_sample_rate = rate; }
  virtual void SetBlockSize(int32_t size) { m_block_size = size; }
  virtual float SampleRate() { return m_sample_rate; }
  virtual int32_t BlockSize() { return m_block_size; }
  // Describes pin `index` into `properties` and answers true, or answers false
  // and leaves the record untouched when there is no such pin.
  virtual bool GetPinProperties(int32_t /*index*/, QXPinProperties* /*properties*/) { return false; }
  virtual int32_t Reserved2() { return 0; }
  virtual int32_t Reserved3() { return 0; }
  virtual void OnNotify() {}
  virtual void OnNotifyIndex(int32_t /*index*/) {}
  virtual void OnDataEvent(uint32_t /*time_stamp*/, int32_t /*arg1*/, int16_t /*arg2*/) {}
  virtual void OnMessage(int32_t /*value*/, int32_t /*index*/, void* /*ptr*/) {}

  // Every host call of the DSP side; 0 without a callback.
  QXWord CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  uint32_t SampleClock();
  // Clears the record, then asks GetPinProperties.
  bool QueryPinProperties(int32_t index, QXPinProperties* properties);
  // Pin `index` of those built by Open; null when refused.
  QXPin* GetPin(int32_t index);
  int32_t PinCount() const { return m_pin_count; }
  // Most DSP-side pins Open builds, whatever count the host answers.
  static constexpr int32_t MAX_PINS = 1 << 16;

  void SetProcessFunction(QXProcessFunction f);
  QXProcessFunction ProcessFunction() const { return m_process_function; }
  void ProcessNothing(int32_t /*offset*/, int32_t /*count*/) {}

  // Posts an event for `p_time_stamp`, the current sample clock or later.
  void AddEvent(uint32_t p_time_stamp, int32_t event_type, int32_t arg1, int32_t arg2, int32_t arg3);
  // Posts a run-function event that runs `f` on this instance at `p_time_stamp`.
  template <class M>
  void RunDelayed(uint32_t p_time_stamp, void (M::*f)()) {
    static_assert(std::is_base_of<QXModule_base, M>::value, "a member function of the module class");
    PostRunFunction(p_time_stamp, static_cast<QXRunFunction>(f));
  }

 private:
  static QXWord QX_CALL DispatchEntry(QXModuleStruct* record, int32_t opcode, int32_t index,
                                      int32_t value, void* ptr, float opt) noexcept;
  static void QX_CALL EventEntry(void* object, QXEvent* e) noexcept;

  void PostRunFunction(uint32_t p_time_stamp, QXRunFunction f);
  // Run-function events name code by address: only code this instance posted
  // may run, so a host cannot make the instance jump anywhere.
  bool RememberRunFunction(uintptr_t first_word);
  bool IsRunFunction(uintptr_t first_word) const;
  void PostEvent(uint32_t p_time_stamp, int32_t event_type, QXWord arg1, QXWord arg2, QXWord arg3);
  // The code a member-function pointer's first word leads to on this object.
  uintptr_t CodeAddress(uintptr_t first_word) const;
  void ReleasePins();

  ::qxaudioMaster qxaudioMaster;
  QXModuleStruct m_module_struct;
  float m_sample_rate;
  int32_t m_block_size;
  QXPin* m_pins;
  QXProcessFunction m_process_function;
  int32_t m_pin_count = 0;  // elements of m_pins, for bounds checks
  uintptr_t m_run_functions[8] = {};  // first words posted by RunDelayed; 0 is free
};

#endif  // QX_SDK2_QXMODULE_BASE_H
