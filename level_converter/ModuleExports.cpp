// The library's whole boundary: the module's properties and the factory of its
// DSP-side and GUI-side instances.
#include <type_traits>

#include "GuiModule.h"
#include "Module.h"
#include "ModuleIdentity.h"
#include "QXHostInterface.h"
#include "QXModuleExports.h"
#include "QXVersion.h"

namespace {

const char ID[] = QX_MODULE_ID;
// Two paragraphs: the module and its version, then what it is.
const char ABOUT[] = QX_MODULE_ID ", version " QX_VERSION_MAJOR_MINOR_TEXT "\n\n" QX_MODULE_DESCRIPTION;

}  // namespace

// getModuleProperties gives the framework version for every index, the refused
// ones too; makeModule gives null instead of an exception when an allocation
// or a constructor fails.
QX_MODULE_EXPORTS(Module, GuiModule, ID, ABOUT)

static_assert(std::is_same<decltype(&getModuleProperties), QXGetModulePropertiesFunction>::value,
              "getModuleProperties has the host's signature");
static_assert(std::is_same<decltype(&makeModule), QXMakeModuleFunction>::value,
              "makeModule has the host's signature");
