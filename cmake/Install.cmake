# What `cmake --install` puts under the prefix, for module authors who build
# outside this tree: the framework's headers (with the host interface header)
# and static library, the CMake package qx_sdk2 with qx_add_module, this
# project's toolchain files, the gain example and its guide. qxhost joins them
# where it is built (tools/qxhost).
#
#   include/qx_sdk2/                    the headers, one folder
#   lib/libqx_sdk2.a                    the framework
#   lib/cmake/qx_sdk2/                  the package: targets, version, qx_add_module
#   share/qx_sdk2/toolchains/           i686-linux, win32, win64
#   share/qx_sdk2/examples/gain/        the gain module, a project of its own
#   share/qx_sdk2/MODULE_AUTHORS.md
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(QX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qx_sdk2)
set(QX_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/qx_sdk2)

# The contract checks the library is compiled with; a module's own code gets
# the same setting through the installed target.
if(NOT QX_CONTRACT_CHECKS STREQUAL "")
  if(QX_CONTRACT_CHECKS)
    set(qx_checks 1)
  else()
    set(qx_checks 0)
  endif()
elseif(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
  set(qx_checks 0)  # NDEBUG
else()
  set(qx_checks 1)
endif()
target_compile_definitions(qx_sdk2 INTERFACE $<INSTALL_INTERFACE:QX_CONTRACT_CHECKS=${qx_checks}>)

install(TARGETS qx_interface qx_sdk2 EXPORT qx_sdk2Targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES
  qx_sdk2/interface/QXHostInterface.h
  qx_sdk2/QXContract.h
  qx_sdk2/QXGUI_base.h
  qx_sdk2/QXGuiPin.h
  qx_sdk2/QXModuleExports.h
  qx_sdk2/QXModule_base.h
  qx_sdk2/QXPin.h
  qx_sdk2/it_enum_list.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qx_sdk2)
install(EXPORT qx_sdk2Targets NAMESPACE qx_sdk2:: DESTINATION ${QX_PACKAGE_DIR})

configure_package_config_file(cmake/qx_sdk2Config.cmake.in ${PROJECT_BINARY_DIR}/package/qx_sdk2Config.cmake
  INSTALL_DESTINATION ${QX_PACKAGE_DIR})
# Same major version; a 32-bit SDK does not serve a 64-bit build, nor the other way.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/qx_sdk2ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/package/qx_sdk2Config.cmake
  ${PROJECT_BINARY_DIR}/package/qx_sdk2ConfigVersion.cmake
  cmake/QXAddModule.cmake
  cmake/qx_module.map
  DESTINATION ${QX_PACKAGE_DIR})
install(FILES cmake/i686-linux.cmake cmake/win32.cmake cmake/win64.cmake cmake/MinGW.cmake
  DESTINATION ${QX_SHARE_DIR}/toolchains)
install(DIRECTORY examples/gain DESTINATION ${QX_SHARE_DIR}/examples)
install(FILES docs/MODULE_AUTHORS.md DESTINATION ${QX_SHARE_DIR})
