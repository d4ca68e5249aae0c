// A well-formed module library for the loader's tests: it holds module 0 of
// framework version 2230 and makes GUI-side instances that are a bare record
// freeing itself on GUI_OP_CLOSE.
#include "QXHostInterface.h"

namespace {

const char NAME[] = "Loader test module";
const char ABOUT[] = "Loader test module 1.0\n\nA module that only the loader's tests open.";

struct Instance {
  QXGuiStruct record;
};

QXWord QX_CALL Dispatch(QXGuiStruct* record, int32_t opcode, int32_t, int32_t, void*, float) {
  if (opcode != GUI_OP_CLOSE) return 0;
  delete static_cast<Instance*>(record->object);
  return 1;
}

}  // namespace

extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties) {
  properties->sdk_version = QX_SDK_VERSION;
  if (index != 0) return false;
  properties->name = NAME;
  properties->id = NAME;
  properties->about = ABOUT;
  properties->flags = 256;
  return true;
}

extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster, QXWord host_data) {
  if (index != 0 || type != QX_INSTANCE_GUI) return nullptr;
  auto* instance = new Instance{};
  instance->record = QXGuiStruct{QX_MAGIC_GUI, 1, &Dispatch, host_data, instance, {}};
  return &instance->record;
}
