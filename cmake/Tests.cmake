# How the tests are registered with CTest: one executable per unit, run without a display and with a
# time-out; a second run against the throw-away PostgreSQL cluster; and the long probes.

# A test executable: one per unit, run by CTest with a time-out and without a display.
function(iccard_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testbin)
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  iccard_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false")
endfunction()

# The test executable <name> of iccard_add_test run a second time, as test <name>_pg, against the
# throw-away PostgreSQL cluster of tests/pg (started by the test pg_start, stopped by pg_stop). The
# file ICCARD_TEST_PG names holds libpq key=value pairs to reach it, or "skip: <reason>" on a
# machine without the PostgreSQL server; a run skipped as a whole then shows as skipped in CTest.
# Call it after setting the test's own properties.
function(iccard_add_pg_test name)
  if(WIN32)
    return() # the Windows build's tests run under Wine, without the cluster
  endif()
  if(NOT TARGET ${name})
    message(FATAL_ERROR "iccard_add_pg_test(${name}): no test executable of that name")
  endif()
  get_test_property(${name} TIMEOUT timeout)
  get_test_property(${name} ENVIRONMENT env)
  if(NOT env)
    set(env "")
  endif()
  list(APPEND env "ICCARD_TEST_PG=${CMAKE_BINARY_DIR}/pg/conninfo")
  add_test(NAME ${name}_pg COMMAND ${name})
  set_tests_properties(${name}_pg PROPERTIES TIMEOUT ${timeout} ENVIRONMENT "${env}" FIXTURES_REQUIRED pg
                                             SKIP_REGULAR_EXPRESSION "SKIP   : [^\n]*(::initTestCase\\(\\)|no PostgreSQL server for this run)")
endfunction()

# The long probes (crash rounds, desks, the package, the fault storm): they start programs of their
# own and take minutes. They carry the label "long", so that a developer can leave them out locally
# (ctest --preset quick) while the test command runs everything, and they take turns with each
# other (a resource lock) while the quick tests run beside them.
function(iccard_long_probe)
  foreach(t ${ARGN})
    if(NOT TEST ${t})
      continue() # not part of this build's tests
    endif()
    set_tests_properties(${t} PROPERTIES LABELS long RESOURCE_LOCK child_programs)
  endforeach()
endfunction()
