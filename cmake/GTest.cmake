# GoogleTest: the installed package natively, built from Debian's sources for
# cross targets (their ABI differs from the installed library's).
if(CMAKE_CROSSCOMPILING OR QX_GTEST_FROM_SOURCE)
  set(QX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${QX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # its own CMake defines the GTest:: aliases
else()
  find_package(GTest REQUIRED)
endif()
