# 32-bit Windows, the host's own platform, cross-built with MinGW-w64. SSE2
# math keeps double arithmetic true IEEE double (no x87 extended precision).
# 32-bit Windows programs cannot run here: this preset builds them and runs
# only the checks made on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
