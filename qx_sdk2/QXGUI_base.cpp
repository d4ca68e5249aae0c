#include "QXGUI_base.h"

#include <cstring>

#include "QXGuiPin.h"

#define QX_CONTRACT_FILE "..\\qx_sdk2\\QXGUI_base"
#include "QXContract.h"

namespace {

// Stands in for a host callback the host did not give, so that CallHost needs
// no test of its own on every request: the contract failure (without checks,
// the refusal) happens here, at the first request, as it would in CallHost.
QXWord QX_CALL Unconnected(void*, int32_t, int32_t, int32_t, void*, float) {
  const ::qxaudioMaster qxaudioMaster = nullptr;
  static_cast<void>(QX_CHECK(qxaudioMaster));
  return 0;
}

}  // namespace

QXGUI_base::QXGUI_base(::qxaudioMaster callback, QXWord host_data)
    : qxaudioMaster(callback != nullptr ? callback : &Unconnected) {
  std::memset(&m_gui_struct, 0, sizeof m_gui_struct);
  m_gui_struct.magic = QX_MAGIC_GUI;
  m_gui_struct.version = QX_RECORD_VERSION;
  m_gui_struct.dispatch_entry = &DispatchEntry;
  m_gui_struct.host_data = host_data;
  m_gui_struct.object = this;
}

QXWord QXGUI_base::DispatchEntry(QXGuiStruct* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) noexcept {
  QXGUI_base* object = ObjectOf(record);
  if (object == nullptr) return 0;
  // Nothing may unwind into the host; a hook that throws is answered with 0.
  try {
    return object->Dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    return 0;
  }
}

QXWord QXGUI_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  return Route(this, opcode, index, value, ptr, opt);
}

QXGUI_base* QXGUI_base::RefuseRecord(QXGuiStruct* record) {
  static_cast<void>(QX_CHECK(record != 0 && record->object != 0));
  return nullptr;
}

QXWord QXGUI_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  return qxaudioMaster(&m_gui_struct, opcode, index, value, ptr, opt);
}

QXWord QXGUI_base::HostIndexedRequest(int32_t index, int32_t value, void* ptr) {
  return CallHost(GUIHOST_OP_INDEXED_REQUEST, index, value, ptr, 0.0f);
}

QXWord QXGUI_base::HostPtrRequest1(void* ptr) { return CallHost(GUIHOST_OP_PTR_REQUEST_1, 0, 0, ptr, 0.0f); }

QXWord QXGUI_base::HostPtrRequest2(void* ptr) { return CallHost(GUIHOST_OP_PTR_REQUEST_2, 0, 0, ptr, 0.0f); }

bool QXGUI_base::HostPtrTest(void* ptr) { return CallHost(GUIHOST_OP_PTR_TEST, 0, 0, ptr, 0.0f) != 0; }

QXGuiPin* QXGUI_base::GetPin(int32_t index) {
  static QXGuiPin shared;
  shared = QXGuiPin(index, this);
  return &shared;
}
