// The reference host's loader: opens a module library file, finds its two
// exports and checks that it holds module 0 of this framework's version, as the
// host does before it creates any instance. The library stays loaded for the
// life of the object.
#ifndef HOST_MODULELIBRARY_H
#define HOST_MODULELIBRARY_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "QXHostInterface.h"

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

  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;
  ModuleLibrary(ModuleLibrary&& other) noexcept;
  ModuleLibrary& operator=(ModuleLibrary&& other) noexcept;
  ~ModuleLibrary();

  const std::string& Path() const { return m_path; }
  // Module 0 as the library described it when opened; its texts are
  // library-owned and valid while this object holds the library.
  const QXModuleProperties& Properties() const { return m_properties; }

  // Call the library's exports.
  bool GetModuleProperties(int32_t index, QXModuleProperties* properties) const {
    return m_get_properties(index, properties);
  }
  void* MakeModule(int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data) const {
    return m_make_module(index, type, callback, host_data);
  }

 private:
  ModuleLibrary(std::string path, void* handle) : m_path(std::move(path)), m_handle(handle) {}
  void Close() noexcept;

  std::string m_path;
  void* m_handle;  // the system's handle of the loaded library; null once moved from
  QXGetModulePropertiesFunction m_get_properties = nullptr;
  QXMakeModuleFunction m_make_module = nullptr;
  QXModuleProperties m_properties{};
};

#endif  // HOST_MODULELIBRARY_H
