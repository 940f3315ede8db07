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
