// A module library of the framework version before this one.
#include "QXHostInterface.h"

extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties) {
  properties->sdk_version = 2229;  // one below QX_SDK_VERSION
  if (index != 0) return false;
  properties->name = "Old version";
  properties->id = properties->name;
  properties->about = "";
  properties->flags = 256;
  return true;
}

extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t, int32_t, qxaudioMaster, QXWord) { return nullptr; }
