# lumo_add_tests(<target> [OFFSCREEN] [DISCOVERY_TIMEOUT <s>] [COST <s>])
#
# Registers a GoogleTest executable with CTest. Built for the machine it runs
# on, each case is a test of its own. Cross-built for Windows, the whole
# executable is one test run in one Wine process (starting Wine is the cost,
# and every start is a chance for Wine itself to fail), within
# LUMO_WINE_TEST_LIMIT seconds; a run that overstays names the case it was in.
# OFFSCREEN: the tests open windows, on Qt's offscreen platform; under Wine
# on the real windows platform (scripts/windows.sh gives it a display),
# whose fonts are the system's (offscreen on Windows reads none of the
# .ttc fonts that carry Chinese).
include_guard(GLOBAL)
include(GoogleTest)

set(LUMO_WINE_TEST_LIMIT 240 CACHE STRING "Seconds one test executable may run under Wine")

function(lumo_add_tests target)
  cmake_parse_arguments(arg "OFFSCREEN" "DISCOVERY_TIMEOUT;COST" "" ${ARGN})
  set(environment "")
  if(arg_OFFSCREEN)
    set(environment "QT_QPA_PLATFORM=offscreen")
  endif()
  if(CMAKE_CROSSCOMPILING AND WIN32)
    add_test(NAME ${target}
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/support/wine-test.sh ${LUMO_WINE_TEST_LIMIT} $<TARGET_FILE:${target}>)
    math(EXPR ctest_limit "${LUMO_WINE_TEST_LIMIT} + 30")
    set_tests_properties(${target} PROPERTIES TIMEOUT ${ctest_limit})
    if(arg_OFFSCREEN)
      # Wine hands a Unix variable QT_* to no Windows program; WINEQT_* it
      # passes on as QT_*.
      set_tests_properties(${target} PROPERTIES ENVIRONMENT "WINEQT_QPA_PLATFORM=windows")
    endif()
    return()
  endif()
  set(discovery "")
  if(arg_DISCOVERY_TIMEOUT)
    set(discovery DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT})
  endif()
  set(properties "")
  if(environment)
    list(APPEND properties ENVIRONMENT "${environment}")
  endif()
  if(arg_COST)
    # Seconds it runs: ctest starts the long ones first, beside the rest.
    list(APPEND properties COST ${arg_COST})
  endif()
  if(properties)
    gtest_discover_tests(${target} ${discovery} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${target} ${discovery})
  endif()
endfunction()
