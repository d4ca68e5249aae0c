// Base class of every GUI-side instance: owns the record the host holds,
// routes the host's GUI_OP_* calls to virtual hooks and carries the requests
// to the host.
#ifndef QX_SDK2_QXGUI_BASE_H
#define QX_SDK2_QXGUI_BASE_H

#include <cstdint>
#include <string>
#include <type_traits>

#include "QXGuiPin.h"
#include "QXHostInterface.h"

// Asks the compiler to inline every call inside a function into it.
#if defined(__GNUC__) || defined(__clang__)
#define QX_FLATTEN __attribute__((flatten))
#else
#define QX_FLATTEN
#endif

// A point handed to the point hooks: x from the call's index, y from its value.
struct QXPoint {
  int32_t x;
  int32_t y;
};

class QXGUI_base {
 public:
  QXGUI_base(::qxaudioMaster callback, QXWord host_data);
  virtual ~QXGUI_base() = default;
  // The record holds this object's address: a copy would point at the original.
  QXGUI_base(const QXGUI_base&) = delete;
  QXGUI_base& operator=(const QXGUI_base&) = delete;

  // The record the host holds for this instance.
  QXGuiStruct* GuiStruct() { return &m_gui_struct; }

  virtual QXWord Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  virtual void Open(bool /*flag*/) {}
  virtual void Close() {}
  virtual void OnIndexedData(int32_t /*index*/, void* /*ptr*/) {}
  virtual void OnPoint1(void* /*ptr*/, float /*opt*/, QXPoint /*point*/) {}
  virtual void OnPoint2(void* /*ptr*/, float /*opt*/, QXPoint /*point*/) {}
  virtual void OnPoint3(void* /*ptr*/, float /*opt*/, QXPoint /*point*/) {}
  virtual void OnData1(void* /*ptr*/) {}
  virtual void OnData2(void* /*ptr*/) {}
  virtual bool Query() { return false; }
  virtual void OnIndex1(int32_t /*index*/) {}
  virtual void OnIndex2(int32_t /*index*/) {}
  virtual void OnMessage(int32_t /*value*/, int32_t /*index*/, void* /*ptr*/) {}
  virtual void OnPinValueChanged(QXGuiPin* /*pin*/) {}

  // The one road to the host. Without a callback: a contract failure, or in a
  // build without checks no call and 0.
  QXWord CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);

  // Requests this framework offers beyond pin access; each is one CallHost and
  // hands back the host's answer.
  QXWord HostIndexedRequest(int32_t index, int32_t value, void* ptr);
  QXWord HostPtrRequest1(void* ptr);
  QXWord HostPtrRequest2(void* ptr);
  bool HostPtrTest(void* ptr);

  // Binds the one handle shared by every GUI instance of the library to
  // (index, this) and returns it. Use it before anything calls GetPin again.
  QXGuiPin* GetPin(int32_t index);

 protected:
  // For a module class declared final, called in its constructor: the
  // record's entry then knows the class, so Dispatch and the hooks are
  // resolved when the module is compiled and inlined into the entry instead of
  // reached through two virtual calls. What the host sees is unchanged.
  template <class Final>
  void UseEntryOf(Final* self);

 private:
  static QXWord QX_CALL DispatchEntry(QXGuiStruct* record, int32_t opcode, int32_t index, int32_t value,
                                      void* ptr, float opt) noexcept;
  template <class Final>
  QX_FLATTEN static QXWord QX_CALL FinalDispatchEntry(QXGuiStruct* record, int32_t opcode, int32_t index,
                                                      int32_t value, void* ptr, float opt) noexcept;
  // The routing of Dispatch, for the base (virtual hooks) and for a final
  // class (its own hooks, called directly).
  template <class Self>
  static QXWord Route(Self* self, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  // The object a record leads to, or null (a contract failure) for a null
  // record or object.
  static QXGUI_base* ObjectOf(QXGuiStruct* record) {
    if (record == nullptr || record->object == nullptr) return RefuseRecord(record);
    return static_cast<QXGUI_base*>(record->object);
  }
  static QXGUI_base* RefuseRecord(QXGuiStruct* record);

  ::qxaudioMaster qxaudioMaster;  // the host's, or Unconnected when it gave none
  QXGuiStruct m_gui_struct;
};

template <class Final>
void QXGUI_base::UseEntryOf(Final* self) {
  static_assert(std::is_final<Final>::value, "a further derived class could override what the entry calls");
  static_assert(std::is_base_of<QXGUI_base, Final>::value, "a GUI module class");
  static_cast<void>(self);
  m_gui_struct.dispatch_entry = &FinalDispatchEntry<Final>;
}

template <class Final>
QXWord QX_CALL QXGUI_base::FinalDispatchEntry(QXGuiStruct* record, int32_t opcode, int32_t index,
                                              int32_t value, void* ptr, float opt) noexcept {
  QXGUI_base* object = ObjectOf(record);
  if (object == nullptr) return 0;
  // Nothing may unwind into the host; a hook that throws is answered with 0.
  try {
    auto* self = static_cast<Final*>(object);
    using BaseDispatch = QXWord (QXGUI_base::*)(int32_t, int32_t, int32_t, void*, float);
    if constexpr (std::is_same<decltype(&Final::Dispatch), BaseDispatch>::value) {
      return Route(self, opcode, index, value, ptr, opt);
    } else {
      return self->Dispatch(opcode, index, value, ptr, opt);
    }
  } catch (...) {
    return 0;
  }
}

template <class Self>
QXWord QXGUI_base::Route(Self* self, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  const QXPoint point{index, value};
  switch (opcode) {
    case GUI_OP_OPEN:
      self->Open(index == 1);
      return 0;
    case GUI_OP_CLOSE:
      self->Close();
      delete self;
      return 1;
    case GUI_OP_INDEXED_DATA:
      self->OnIndexedData(index, ptr);
      return 0;
    case GUI_OP_POINT_1:
      self->OnPoint1(ptr, opt, point);
      return 0;
    case GUI_OP_POINT_2:
      self->OnPoint2(ptr, opt, point);
      return 0;
    case GUI_OP_POINT_3:
      self->OnPoint3(ptr, opt, point);
      return 0;
    case GUI_OP_MESSAGE:
      self->OnMessage(value, index, ptr);
      return 0;
    case GUI_OP_PIN_VALUE_CHANGED: {
      QXGuiPin pin(index, self);
      self->OnPinValueChanged(&pin);
      return 0;
    }
    case GUI_OP_DATA_1:
      self->OnData1(ptr);
      return 0;
    case GUI_OP_DATA_2:
      self->OnData2(ptr);
      return 0;
    case GUI_OP_QUERY:
      return self->Query() ? 1 : 0;
    case GUI_OP_INDEX_1:
      self->OnIndex1(index);
      return 0;
    case GUI_OP_INDEX_2:
      self->OnIndex2(index);
      return 0;
    default:
      return 0;
  }
}

#endif  // QX_SDK2_QXGUI_BASE_H
