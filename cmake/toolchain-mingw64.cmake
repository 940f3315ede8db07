# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (posix thread model, which
# std::thread and std::mutex need), linked statically so that no MinGW DLL has to lie beside the
# .exe. Programs built here run on Linux under Wine (see cmake/VellomarTesting.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELLOMAR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELLOMAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLOMAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLOMAR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELLOMAR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked: the only DLLs an .exe needs are the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here are run by Wine: tests through CTest, test listing through
# gtest_discover_tests. The emulator sets Wine's environment itself, so that a plain `ctest`
# works too: a prefix of its own in the build folder (created on first use), no debug output,
# no display (the programs are console programs), no prompt to install Mono or Gecko, and no
# proxy from the environment, which Wine's WinHTTP may take for the tests' servers on 127.0.0.1.
find_program(VELLOMAR_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELLOMAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all DISPLAY=
      WINEDLLOVERRIDES=mscoree,mshtml= ${VELLOMAR_WINE})
endif()
