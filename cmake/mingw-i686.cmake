# Cross build for 32-bit Windows with mingw-w64.
# OQ_MINGW_THREADS picks the compiler's thread model: "win32" keeps the shipped
# program small; GoogleTest needs "posix" (it uses std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OQ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
