// Base class of every GUI-side instance: owns the record the host holds,
// routes the host's GUI_OP_* calls to virtual hooks and carries the requests
// to the host.
#ifndef QX_SDK2_QXGUI_BASE_H
#define QX_SDK2_QXGUI_BASE_H

#include <cstdint>
#include <string>

#include "QXHostInterface.h"

class QXGuiPin;

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

 private:
  static QXWord QX_CALL DispatchEntry(QXGuiStruct* record, int32_t opcode, int32_t index,
                                      int32_t value, void* ptr, float opt) noexcept;

  ::qxaudioMaster qxaudioMaster;
  QXGuiStruct m_gui_struct;
};

#endif  // QX_SDK2_QXGUI_BASE_H
