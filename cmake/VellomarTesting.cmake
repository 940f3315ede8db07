# vellomar_add_test(<name> SOURCES <files...> [LIBS <targets...>] [GUI])
# Builds one GoogleTest executable and registers each of its tests with CTest.
# GUI tests get a QApplication on the offscreen platform.
if(CMAKE_CROSSCOMPILING)
  # No GoogleTest package exists for the target: build Debian's sources (package googletest)
  # with the target's compiler; it defines GTest::gtest and GTest::gtest_main as the package
  # does. SYSTEM keeps its headers out of our warnings.
  set(VELLOMAR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VELLOMAR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
if(VELLOMAR_BUILD_APP)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
endif()
include(GoogleTest)

function(vellomar_add_test name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vellomar_settings vellomar_test_support ${ARG_LIBS})
  set(env "")
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE vellomar_gui_test_main)
    set(env "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${name} NO_PRETTY_VALUES
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "${env}" TIMEOUT 120)
endfunction()
