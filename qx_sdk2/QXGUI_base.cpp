#include "QXGUI_base.h"

#include <cstring>

#include "QXGuiPin.h"

#define QX_CONTRACT_FILE "..\\qx_sdk2\\QXGUI_base"
#include "QXContract.h"

QXGUI_base::QXGUI_base(::qxaudioMaster callback, QXWord host_data) : qxaudioMaster(callback) {
  std::memset(&m_gui_struct, 0, sizeof m_gui_struct);
  m_gui_struct.magic = QX_MAGIC_GUI;
  m_gui_struct.version = QX_RECORD_VERSION;
  m_gui_struct.dispatch_entry = &DispatchEntry;
  m_gui_struct.host_data = host_data;
  m_gui_struct.object = this;
}

QXWord QXGUI_base::DispatchEntry(QXGuiStruct* record, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt) noexcept {
  if (!QX_CHECK(record != 0 && record->object != 0)) return 0;
  // Nothing may unwind into the host; a hook that throws is answered with 0.
  try {
    return static_cast<QXGUI_base*>(record->object)->Dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    return 0;
  }
}

QXWord QXGUI_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  const QXPoint point{index, value};
  switch (opcode) {
    case GUI_OP_OPEN:
      Open(index == 1);
      return 0;
    case GUI_OP_CLOSE:
      Close();
      delete this;
      return 1;
    case GUI_OP_INDEXED_DATA:
      OnIndexedData(index, ptr);
      return 0;
    case GUI_OP_POINT_1:
      OnPoint1(ptr, opt, point);
      return 0;
    case GUI_OP_POINT_2:
      OnPoint2(ptr, opt, point);
      return 0;
    case GUI_OP_POINT_3:
      OnPoint3(ptr, opt, point);
      return 0;
    case GUI_OP_MESSAGE:
      OnMessage(value, index, ptr);
      return 0;
    case GUI_OP_PIN_VALUE_CHANGED: {
      QXGuiPin pin(index, this);
      OnPinValueChanged(&pin);
      return 0;
    }
    case GUI_OP_DATA_1:
      OnData1(ptr);
      return 0;
    case GUI_OP_DATA_2:
      OnData2(ptr);
      return 0;
    case GUI_OP_QUERY:
      return Query() ? 1 : 0;
    case GUI_OP_INDEX_1:
      OnIndex1(index);
      return 0;
    case GUI_OP_INDEX_2:
      OnIndex2(index);
      return 0;
    default:
      return 0;
  }
}

QXWord QXGUI_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (!QX_CHECK(qxaudioMaster)) return 0;
  return qxaudioMaster(&m_gui_struct, opcode, index, value, ptr, opt);
}

QXWord QXGUI_base::HostIndexedRequest(int32_t index, int32_t value, void* ptr) {
  return CallHost(GUIHOST_OP_INDEXED_REQUEST, index, value, ptr, 0.0f);
}

QXWord QXGUI_base::HostPtrRequest1(void* ptr) {
  return CallHost(GUIHOST_OP_PTR_REQUEST_1, 0, 0, ptr, 0.0f);
}

QXWord QXGUI_base::HostPtrRequest2(void* ptr) {
  return CallHost(GUIHOST_OP_PTR_REQUEST_2, 0, 0, ptr, 0.0f);
}

bool QXGUI_base::HostPtrTest(void* ptr) {
  return CallHost(GUIHOST_OP_PTR_TEST, 0, 0, ptr, 0.0f) != 0;
}

QXGuiPin* QXGUI_base::GetPin(int32_t index) {
  static QXGuiPin shared;
  shared = QXGuiPin(index, this);
  return &shared;
}
