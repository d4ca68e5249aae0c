// The reference host's loader: opens a module library file, finds its two
// exports and admits module 0 as the host does before it creates any
// instance. The library stays loaded for the life of the object.
#ifndef HOST_MODULELIBRARY_H
#define HOST_MODULELIBRARY_H

#include <cstdint>
#include <optional>
#include <string>

#include "QXHostInterface.h"
#include "SharedLibrary.h"

class ModuleLibrary {
 public:
  // Why a library was not opened.
  enum class Failure {
    NO_FILE,         // nothing at the path
    NOT_A_LIBRARY,   // the system loader refused the file
    MISSING_EXPORT,  // getModuleProperties or makeModule is not exported
    NO_MODULE,       // getModuleProperties(0) answered false
    WRONG_VERSION    // module 0 reports a framework version other than QX_SDK_VERSION
  };
  struct Error {
    Failure failure;
    std::string text;  // one line, beginning with the path
  };

  // Opens the file at `path` (relative paths are taken from the current
  // directory, never from the system's library search path). On failure
  // answers nothing and, if `error` is given, fills it; never throws for a bad
  // file.
  static std::optional<ModuleLibrary> Open(const std::string& path, Error* error);

  // The host's gate: it makes instances only of a module 0 that exists
  // (`answered`, what getModuleProperties(0) returned) and reports this
  // framework's version in `properties`. Otherwise false, the failure
  // (NO_MODULE or WRONG_VERSION) and a one-line reason.
  static bool Admit(bool answered, const QXModuleProperties& properties, Failure* failure,
                    std::string* reason);

  ModuleLibrary(ModuleLibrary&& other) noexcept = default;
  ModuleLibrary& operator=(ModuleLibrary&& other) noexcept = default;

  const std::string& Path() const { return m_path; }
  // Module 0 as the library described it when opened; its texts are
  // library-owned and valid while this object holds the library.
  const QXModuleProperties& Properties() const { return m_properties; }

  // Call the library's exports.
  bool GetModuleProperties(int32_t index, QXModuleProperties* properties) const;
  void* MakeModule(int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data) const;

 private:
  ModuleLibrary(std::string path, SharedLibrary library)
      : m_path(std::move(path)), m_library(std::move(library)) {}

  std::string m_path;
  SharedLibrary m_library;
  QXGetModulePropertiesFunction m_get_properties = nullptr;
  QXMakeModuleFunction m_make_module = nullptr;
  QXModuleProperties m_properties{};
};

#endif  // HOST_MODULELIBRARY_H
