# varnow_add_test(NAME name SOURCES a_test.cpp ... LIBS lib ... [ENV VAR=value ...] [TIMEOUT s] [OWN_MAIN])
# Builds one GoogleTest program and registers it with CTest under its own name. Tests find the
# programs in $VARNOW_BIN_DIR (build/<type>/bin). OWN_MAIN is for
# test programs that define main() themselves (for example to create a QCoreApplication).
if(VARNOW_TESTS AND NOT VARNOW_FUZZ)
  find_package(GTest REQUIRED)
endif()

function(varnow_add_test)
  cmake_parse_arguments(T "OWN_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT VARNOW_TESTS OR VARNOW_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_OWN_MAIN)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "VARNOW_SOURCE_DIR=${PROJECT_SOURCE_DIR};VARNOW_BINARY_DIR=${PROJECT_BINARY_DIR};VARNOW_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};${T_ENV}")
endfunction()
