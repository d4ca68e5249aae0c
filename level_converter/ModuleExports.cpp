// The library's whole boundary: the module's properties and the factory of its
// DSP-side and GUI-side instances.
#include <type_traits>

#include "GuiModule.h"
#include "Module.h"
#include "ModuleIdentity.h"
#include "QXHostInterface.h"
#include "QXVersion.h"

namespace {

const char ID[] = QX_MODULE_ID;
// Two paragraphs: the module and its version, then what it is.
const char ABOUT[] = QX_MODULE_ID ", version " QX_VERSION_MAJOR_MINOR_TEXT "\n\n" QX_MODULE_DESCRIPTION;

}  // namespace

extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties) {
  if (properties == nullptr) return false;
  properties->sdk_version = QX_SDK_VERSION;  // for every index, the refused ones too
  if (index != 0) return false;
  properties->name = ID;
  properties->id = ID;
  properties->about = ABOUT;
  properties->flags = QX_MODULE_FLAGS;
  return true;
}

extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster callback,
                                              QXWord host_data) {
  if (index != 0) return nullptr;
  // A failed allocation or constructor releases the storage (the new-expression
  // does) and the host gets null instead of an exception.
  try {
    switch (type) {
      case QX_INSTANCE_DSP:
        return (new Module(callback, host_data))->ModuleStruct();
      case QX_INSTANCE_GUI:
        return (new GuiModule(callback, host_data))->GuiStruct();
      default:
        return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}

static_assert(std::is_same<decltype(&getModuleProperties), QXGetModulePropertiesFunction>::value,
              "getModuleProperties has the host's signature");
static_assert(std::is_same<decltype(&makeModule), QXMakeModuleFunction>::value,
              "makeModule has the host's signature");
