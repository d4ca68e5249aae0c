// A module library that lacks its makeModule export.
#include "QXHostInterface.h"

extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties) {
  properties->sdk_version = QX_SDK_VERSION;
  if (index != 0) return false;
  properties->name = "No factory";
  properties->id = properties->name;
  properties->about = "";
  properties->flags = 256;
  return true;
}
