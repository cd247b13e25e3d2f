# cmake -DBUILD_DIR=<build> -DSOURCE_DIR=<sources>
#       -DPROBES=<target>:<header>,... -P includes_point_down.cmake
# Fails unless building each probe target fails because its header, one of
# the layer above the probe's, is not found (and for no other reason), and
# unless no file of src/ includes a .cpp file.
set(failed 0)
string(REPLACE "," ";" probes "${PROBES}")
foreach(probe IN LISTS probes)
  string(REPLACE ":" ";" probe "${probe}")
  list(GET probe 0 target)
  list(GET probe 1 above)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
  string(REPLACE "." "\\." above_re "${above}")
  # GCC: "x.h: No such file or directory"; clang: "'x.h' file not found".
  if(rc EQUAL 0)
    message(SEND_ERROR "${target} includes ${above}")
    set(failed 1)
  elseif(NOT out MATCHES "${above_re}(: No such file or directory|' file not found)")
    message(SEND_ERROR "${target} failed for another reason:\n${out}")
    set(failed 1)
  else()
    message(STATUS "${target}: ${above} not found")
  endif()
endforeach()
if(NOT probes)
  message(SEND_ERROR "no probes")
  set(failed 1)
endif()

file(GLOB_RECURSE sources ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp)
foreach(file IN LISTS sources)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.cpp[\">]")
  if(lines)
    message(SEND_ERROR "${file} includes a .cpp file: ${lines}")
    set(failed 1)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "includes that do not point down")
endif()
