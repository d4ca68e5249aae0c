// The two functions a module library exports, for a library that holds one
// module: its DSP class, its GUI class, its ID and its about text. One source
// file of the module writes
//     QX_MODULE_EXPORTS(GainModule, GainGui, "Gain", "Gain, version 1.0\n\nA gain.")
// at file scope; ID and ABOUT are string literals or arrays of static
// storage (the host keeps pointers to them while the library is loaded).
#ifndef QX_SDK2_QXMODULEEXPORTS_H
#define QX_SDK2_QXMODULEEXPORTS_H

#include <cstdint>

#include "QXHostInterface.h"

class QXModuleExports {
 public:
  // getModuleProperties: the framework version for every index, and module 0's
  // description; false for any other index or a null record.
  static bool Properties(int32_t index, QXModuleProperties* properties, const char* id, const char* about) {
    if (properties == nullptr) return false;
    properties->sdk_version = QX_SDK_VERSION;
    if (index != 0) return false;
    properties->name = id;
    properties->id = id;
    properties->about = about;
    properties->flags = QX_MODULE_FLAGS;
    return true;
  }
  // makeModule: a DSP or a GUI instance of module 0, its record, or null. A
  // failed allocation or constructor gives null: no exception reaches the host.
  template <class Dsp, class Gui>
  static void* Make(int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data) noexcept {
    if (index != 0) return nullptr;
    try {
      if (type == QX_INSTANCE_DSP) return (new Dsp(callback, host_data))->ModuleStruct();
      if (type == QX_INSTANCE_GUI) return (new Gui(callback, host_data))->GuiStruct();
    } catch (...) {
    }
    return nullptr;
  }
};

// The class names are template arguments, which take no parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QX_MODULE_EXPORTS(DSP_CLASS, GUI_CLASS, ID, ABOUT)                                               \
  extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties) { \
    return QXModuleExports::Properties(index, properties, ID, ABOUT);                                    \
  }                                                                                                      \
  extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster callback,     \
                                                QXWord host_data) {                                      \
    return QXModuleExports::Make<DSP_CLASS, GUI_CLASS>(index, type, callback, host_data);                \
  }
// NOLINTEND(bugprone-macro-parentheses)

#endif  // QX_SDK2_QXMODULEEXPORTS_H
