// Base class of every DSP-side instance: owns the record the host holds,
// routes the host's DSP_OP_* calls to virtual operations, builds the instance's
// pins on open, keeps the current process function and exchanges timed events
// with the host.
#ifndef QX_SDK2_QXMODULE_BASE_H
#define QX_SDK2_QXMODULE_BASE_H

#include <cstdint>
#include <cstring>
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

  // Timed events. A post goes to the host (HOST_OP_ADD_EVENT) for
  // `p_time_stamp`, the current sample clock or later; a past clock is a
  // contract failure, or without checks a refused post. Without a host
  // callback nothing is checked and nothing is posted.
  //
  // A run-function event names code by its address: the first word of the
  // member-function pointer posted through RunDelayed, AddEvent or
  // CallHost(HOST_OP_ADD_EVENT). A delivered one runs that code on this
  // instance as the event says; the host hands back only what it was given.
  // Only the word 0, which names no code, is refused (a contract failure with
  // checks). Posting and delivering keep no state in the instance, so they
  // cost no allocation and no lock on the audio thread, whatever the host
  // calls on other threads meanwhile.

  // Posts an event of any kind; arg4 is 0.
  void AddEvent(uint32_t p_time_stamp, int32_t event_type, QXWord arg1, QXWord arg2, QXWord arg3);
  // Posts a run-function event that runs `f` on this instance at
  // `p_time_stamp`. `f` takes no argument; a result, if any, is not used. Only
  // its first word travels, so its adjustment is taken as 0.
  template <class M, class R>
  void RunDelayed(uint32_t p_time_stamp, R (M::*f)()) {
    static_assert(std::is_base_of<QXModule_base, M>::value, "a member function of the module class");
    static_assert(IsRegisterResult<R>(), "a result the caller may ignore");
    PostRunFunction(p_time_stamp, CodeWordOf(f));
  }
  template <class M, class R>
  void RunDelayed(uint32_t p_time_stamp, R (M::*f)() const) {
    static_assert(std::is_base_of<QXModule_base, M>::value, "a member function of the module class");
    static_assert(IsRegisterResult<R>(), "a result the caller may ignore");
    PostRunFunction(p_time_stamp, CodeWordOf(f));
  }

 private:
  static QXWord QX_CALL DispatchEntry(QXModuleStruct* record, int32_t opcode, int32_t index, int32_t value,
                                      void* ptr, float opt) noexcept;
  static void QX_CALL EventEntry(void* object, QXEvent* e) noexcept;

  // A run function is called as one without a result: its result must come
  // back in a register, not in memory the caller provides (a class) nor on
  // the x87 stack (a floating-point result on 32-bit x86), which the call
  // would leave unbalanced.
  template <class R>
  static constexpr bool IsRegisterResult() {
    return std::is_void<R>::value || std::is_integral<R>::value || std::is_enum<R>::value ||
           std::is_pointer<R>::value || std::is_reference<R>::value;
  }
  // The first word of a member-function pointer: its code address, or a
  // virtual function's table offset plus 1.
  template <class F>
  static uintptr_t CodeWordOf(F f) {
    static_assert(sizeof f == 2 * sizeof(uintptr_t), "two-word member-function pointer");
    uintptr_t word;
    std::memcpy(&word, &f, sizeof word);
    return word;
  }

  void PostRunFunction(uint32_t p_time_stamp, uintptr_t word);
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
};

#endif  // QX_SDK2_QXMODULE_BASE_H
