# Compile settings shared by every target of the project.
add_library(vellomar_settings INTERFACE)
target_compile_features(vellomar_settings INTERFACE cxx_std_20)
if(MSVC)
  target_compile_options(vellomar_settings INTERFACE /W4 /WX /permissive-)
else()
  target_compile_options(vellomar_settings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                     -Wconversion -Wno-sign-conversion -Werror)
endif()
target_include_directories(vellomar_settings INTERFACE ${PROJECT_SOURCE_DIR}/src)

# The hardening a Debian package is built with (dpkg-buildflags with hardening=+all), for the
# programs, which may run as root: called by src/ for its folder and those below. Off for the
# sanitizer and fuzzer builds, whose runtimes do the checking, and for Windows, where MinGW's
# fortified functions would need a library of their own.
option(VELLOMAR_HARDENING "Build the programs with the usual hardening flags (Linux)" ON)
function(vellomar_harden)
  if(NOT VELLOMAR_HARDENING OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR MSVC)
    return()
  endif()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON PARENT_SCOPE)
  include(CheckPIESupported)
  check_pie_supported()
  # Level 3 where the compiler knows the sizes of more objects (GCC 12, clang 14 and later).
  if((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
     OR (CMAKE_CXX_COMPILER_ID STREQUAL "Clang"
         AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 14))
    set(fortify 3)
  else()
    set(fortify 2)
  endif()
  # Fortification needs the optimiser: not in a Debug build.
  add_compile_options(
    "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${fortify}>"
    -fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i.86")
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endfunction()
