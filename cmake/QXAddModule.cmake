# qx_add_module(TARGET SOURCES source... [ID name])
#
# Builds a module library of this host format from the sources, on the
# framework (target qx_sdk2::qx_sdk2): the file ID.qxm (ID defaults to TARGET;
# it is the module's ID, as its getModuleProperties gives it), exporting
# getModuleProperties and makeModule and nothing else. The flags the host's
# platform needs come with it: on 32-bit x86 SSE2 math (double arithmetic in
# true IEEE double, as the framework is built), on Windows the C and C++
# runtimes linked in, so that the file imports Windows system DLLs only.
# A build that names no build type (CMAKE_BUILD_TYPE empty) is optimised with
# debug information (-O2 -g), as RelWithDebInfo: a module runs on the audio
# thread, and a crash report should still be readable.
# Contract checks follow the framework's build (the package's qx_sdk2 target
# carries QX_CONTRACT_CHECKS). For GCC and Clang, MinGW-w64 included.
function(qx_add_module target)
  cmake_parse_arguments(PARSE_ARGV 1 QX "" "ID" "SOURCES")
  if(QX_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qx_add_module(${target}): unknown arguments ${QX_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT QX_SOURCES)
    message(FATAL_ERROR "qx_add_module(${target}): no SOURCES")
  endif()
  if(NOT QX_ID)
    set(QX_ID ${target})
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(WARNING "qx_add_module(${target}): made for GCC and Clang; ${CMAKE_CXX_COMPILER_ID} gets no flags")
  endif()

  add_library(${target} MODULE ${QX_SOURCES})
  target_link_libraries(${target} PRIVATE qx_sdk2::qx_sdk2)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${QX_ID} PREFIX "" SUFFIX ".qxm"
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    return()
  endif()

  # No build type named: optimised, with debug information.
  target_compile_options(${target} PRIVATE $<$<STREQUAL:$<CONFIG>,>:-O2$<SEMICOLON>-g>)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86|X86|i.86)$")
    target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
  endif()
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  elseif(NOT APPLE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL
                        -Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/qx_module.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/qx_module.map)
  endif()
endfunction()

# qx_module_release(TARGET [VERSION x.y.z] [NAME text] [DESCRIPTION text] [DESTINATION folder])
#
# The release of a module made with qx_add_module, as this project makes its
# own: target TARGET_release writes into DESTINATION (default: the folder
# "release" of the build tree) the module stripped of debug information and
# symbols, and ID.qxm.debug beside it holding them, named from the module
# by a debug link (.gnu_debuglink, with its checksum) so that a debugger
# finds it and a crash address can be read. On Windows the module gets a
# version resource: file and product version VERSION (default: the
# project's), product name NAME (default: the ID) and DESCRIPTION (default:
# the project's description, else the name). The sources' and the build
# tree's paths are mapped to /PROJECT and /PROJECT/build, and a Windows link
# writes no time stamp, so that the same sources give the same file.
# `qxhost inspect --stripped --version x.y.z` checks the result.
function(qx_module_release target)
  cmake_parse_arguments(PARSE_ARGV 1 QX "" "VERSION;NAME;DESCRIPTION;DESTINATION" "")
  if(QX_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qx_module_release(${target}): unknown arguments ${QX_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "qx_module_release(${target}): no such target (make it with qx_add_module first)")
  endif()
  if(NOT QX_VERSION)
    set(QX_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT QX_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "qx_module_release(${target}): version '${QX_VERSION}' is not X.Y.Z "
                        "(give VERSION, or project(... VERSION X.Y.Z))")
  endif()
  set(major ${CMAKE_MATCH_1})
  set(minor ${CMAKE_MATCH_2})
  set(patch ${CMAKE_MATCH_3})
  get_target_property(id ${target} OUTPUT_NAME)
  if(NOT QX_NAME)
    set(QX_NAME ${id})
  endif()
  if(NOT QX_DESCRIPTION)
    set(QX_DESCRIPTION "${PROJECT_DESCRIPTION}")
  endif()
  if(NOT QX_DESCRIPTION)
    set(QX_DESCRIPTION "${QX_NAME}")
  endif()
  if(NOT QX_DESTINATION)
    set(QX_DESTINATION ${CMAKE_BINARY_DIR}/release)
  endif()
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "qx_module_release(${target}): no objcopy found for this compiler")
  endif()

  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=/${PROJECT_NAME}>
      $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=/${PROJECT_NAME}/build>)
  endif()
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
    foreach(text QX_NAME QX_DESCRIPTION)
      string(REPLACE "\\" "\\\\" ${text} "${${text}}")
      string(REPLACE "\"" "\"\"" ${text} "${${text}}")
    endforeach()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    file(CONFIGURE OUTPUT ${rc} CONTENT [=[
// The Windows version resource of @id@.qxm, made by qx_module_release.
#include <winver.h>

VS_VERSION_INFO VERSIONINFO
FILEVERSION @major@, @minor@, @patch@, 0
PRODUCTVERSION @major@, @minor@, @patch@, 0
FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
FILEFLAGS 0
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_DLL
FILESUBTYPE VFT2_UNKNOWN
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileDescription", "@QX_DESCRIPTION@"
      VALUE "FileVersion", "@QX_VERSION@"
      VALUE "InternalName", "@id@"
      VALUE "OriginalFilename", "@id@.qxm"
      VALUE "ProductName", "@QX_NAME@"
      VALUE "ProductVersion", "@QX_VERSION@"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
]=] @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endif()

  set(out ${QX_DESTINATION}/${id}.qxm)
  add_custom_target(${target}_release
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_DESTINATION}
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${out}.debug
    COMMAND ${CMAKE_COMMAND} -E chdir ${QX_DESTINATION}
            ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${id}.qxm.debug $<TARGET_FILE:${target}> ${out}
    COMMAND ${CMAKE_COMMAND} -E echo "${target}: released ${out} and ${id}.qxm.debug (version ${QX_VERSION})"
    BYPRODUCTS ${out} ${out}.debug
    VERBATIM)
  add_dependencies(${target}_release ${target})
endfunction()
