# qx_add_module(TARGET SOURCES source... [ID name])
#
# Builds a module library of this host format from the sources, on the
# framework (target qx_sdk2::qx_sdk2): the file ID.qxm (ID defaults to TARGET;
# it is the module's ID, as its getModuleProperties gives it), exporting
# getModuleProperties and makeModule and nothing else. The flags the host's
# platform needs come with it: on 32-bit x86 SSE2 math (double arithmetic in
# true IEEE double, as the framework is built), on Windows the C and C++
# runtimes linked in, so that the file imports Windows system DLLs only.
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
