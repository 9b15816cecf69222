# Fails when any C++ source of the project differs from its clang-format output.
file(GLOB_RECURSE sources RELATIVE ${ROOT}
     ${ROOT}/src/*.cpp ${ROOT}/src/*.h ${ROOT}/tests/*.cpp ${ROOT}/tests/*.h
     ${ROOT}/tools/*.cpp ${ROOT}/tools/*.h ${ROOT}/bench/*.cpp ${ROOT}/bench/*.h)
set(bad "")
foreach(f ${sources})
  execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${f} WORKING_DIRECTORY ${ROOT}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    list(APPEND bad ${f})
  endif()
endforeach()
if(bad)
  list(JOIN bad "\n  " lines)
  message(FATAL_ERROR "Not formatted (run clang-format -i):\n  ${lines}")
endif()
list(LENGTH sources n)
message(STATUS "${n} files formatted")
