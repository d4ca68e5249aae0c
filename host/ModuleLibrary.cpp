#include "ModuleLibrary.h"

#include <utility>

#include "ModuleCall.h"

std::optional<ModuleLibrary> ModuleLibrary::Open(const std::string& path, Error* error) {
  auto fail = [&](Failure failure, const std::string& text) -> std::optional<ModuleLibrary> {
    if (error != nullptr) *error = Error{failure, text};
    return std::nullopt;
  };

  SharedLibrary shared;
  std::string text;
  SharedLibrary::Failure refused = SharedLibrary::Failure::REFUSED;
  bool opened = false;
  {
    const ModuleCall loading(ModuleCall::Entry::LOAD, 0, 0);
    opened = shared.Open(path, &text, &refused);
  }
  if (!opened)
    return fail(refused == SharedLibrary::Failure::NO_FILE ? Failure::NO_FILE : Failure::NOT_A_LIBRARY, text);
  ModuleLibrary library(path, std::move(shared));  // unloads again on every failure below

  void* const get_properties = library.m_library.Find("getModuleProperties");
  void* const make_module = library.m_library.Find("makeModule");
  if (get_properties == nullptr || make_module == nullptr) {
    std::string missing = get_properties == nullptr ? "getModuleProperties" : "";
    if (make_module == nullptr) missing += missing.empty() ? "makeModule" : " and makeModule";
    return fail(Failure::MISSING_EXPORT, path + ": does not export " + missing);
  }
  library.m_get_properties = reinterpret_cast<QXGetModulePropertiesFunction>(get_properties);
  library.m_make_module = reinterpret_cast<QXMakeModuleFunction>(make_module);

  Failure failure = Failure::NO_MODULE;
  std::string reason;
  if (!Admit(library.GetModuleProperties(0, &library.m_properties), library.m_properties, &failure, &reason))
    return fail(failure, path + ": " + reason);
  return std::optional<ModuleLibrary>(std::move(library));
}

bool ModuleLibrary::GetModuleProperties(int32_t index, QXModuleProperties* properties) const {
  const ModuleCall call(ModuleCall::Entry::GET_PROPERTIES, index, 0);
  return m_get_properties(index, properties);
}

void* ModuleLibrary::MakeModule(int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data) const {
  const ModuleCall call(ModuleCall::Entry::MAKE_MODULE, index, type);
  return m_make_module(index, type, callback, host_data);
}

bool ModuleLibrary::Admit(bool answered, const QXModuleProperties& properties, Failure* failure,
                          std::string* reason) {
  if (!answered) {
    *failure = Failure::NO_MODULE;
    *reason = "getModuleProperties refuses module index 0";
    return false;
  }
  if (properties.sdk_version != QX_SDK_VERSION) {
    *failure = Failure::WRONG_VERSION;
    *reason = "framework version " + std::to_string(properties.sdk_version) + ", expected " +
              std::to_string(QX_SDK_VERSION);
    return false;
  }
  return true;
}
