# Helpers shared by every test folder.
find_package(GTest REQUIRED)
include(GoogleTest)

# LOCK <name>: tests holding the same lock never run at the same time (for
# tests that make system-wide news, such as the kernel's tty uevents, which
# every watcher of another test would see).

# tarvik_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LOCK <name>])
function(tarvik_add_gtest name)
  cmake_parse_arguments(ARG "" "LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set(lock)
  if(ARG_LOCK)
    set(lock RESOURCE_LOCK ${ARG_LOCK})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120 ${lock})
endfunction()

# tarvik_add_qtest(<name> SOURCES <files...> LIBS <targets...> [LOCK <name>]): a Qt Test on the
# offscreen platform.
function(tarvik_add_qtest name)
  cmake_parse_arguments(ARG "" "LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  if(ARG_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${ARG_LOCK})
  endif()
endfunction()
