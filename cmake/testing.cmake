# Tests: GoogleTest from Debian natively, from the private prefix for Windows.
find_package(GTest REQUIRED)
include(GoogleTest)

# zel_add_test_executable(name SOURCES ...) adds one test program. On Linux each
# case becomes its own ctest entry; under Wine the whole program is one entry so
# that a test run starts Wine as few times as possible.
function(zel_add_test_executable name)
  cmake_parse_arguments(ARG "SERIAL" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main zel_options)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
    if(ARG_SERIAL)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK engine_port)
    endif()
  else()
    set(props LABELS "${ARG_LABELS}" TIMEOUT 120)
    if(ARG_SERIAL)
      list(APPEND props RESOURCE_LOCK engine_port)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  endif()
endfunction()
