# How the program's sources are compiled wherever they are built: the main
# build, and the benchmarks that build src/ themselves so that they measure
# the same code.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE MinSizeRel)
endif()

add_compile_options(-Wall -Wextra)
if(WIN32)
  # Unicode Win32 throughout; no <windows.h> min/max macros.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_compile_options(-ffunction-sections -fdata-sections)

  # The installer ships as one executable: zlib goes inside it, not beside
  # it as zlib1.dll (Wine has one of its own, Windows does not).
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
