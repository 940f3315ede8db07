# vellomar_add_test(<name> SOURCES <files...> [LIBS <targets...>] [GUI])
# Builds one GoogleTest executable and registers each of its tests with CTest.
# GUI tests get a QApplication on the offscreen platform.
find_package(GTest REQUIRED)
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
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "${env}" TIMEOUT 120)
endfunction()
