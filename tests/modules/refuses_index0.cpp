// A module library that holds no module: every index is refused.
#include "QXHostInterface.h"

extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t, QXModuleProperties* properties) {
  properties->sdk_version = QX_SDK_VERSION;
  return false;
}

extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t, int32_t, qxaudioMaster, QXWord) { return nullptr; }
