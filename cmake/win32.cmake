# 32-bit Windows, the host's own platform, cross-built with MinGW-w64. SSE2
# math keeps double arithmetic true IEEE double (no x87 extended precision).
# No emulator is set: the win32 test preset runs only the checks made on the
# build machine, and the win32-run stage (scripts/win32-run.sh) runs the
# programs under Wine's 32-bit loader.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
