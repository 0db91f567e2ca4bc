# Runs the layer check on a small tree with known upward and sideways
# includes and expects exactly those reported, with file and line, and a
# failing exit status.
#   cmake -DVELMO_SOURCE=<source tree> -P tests/cmake/CheckLayersTest.cmake
cmake_minimum_required(VERSION 3.25)

set(fixture ${VELMO_SOURCE}/tests/fixtures/cmake/layers)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DVELMO_LAYER_ROOT=${fixture}/tree -DVELMO_LAYER_FILE=${fixture}/Layers.cmake
          -P ${VELMO_SOURCE}/cmake/CheckLayers.cmake
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

if(rc EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with upward includes:\n${out}${err}")
endif()

set(expected
  "gif/Gif.cpp:4: error: gif includes controls/shell/Shell.h, which belongs to controls/shell (a peer on the same layer)"
  "imaging/io/Io.inc:2: error: imaging/io includes imaging/proc/Proc.h, which belongs to imaging/proc (a peer on the same layer)"
  "imaging/model/Model.cpp:6: error: imaging/model includes imaging/proc/Proc.h, which belongs to imaging/proc (a higher layer)"
  "tests/imaging/model/ModelTest.cpp:7: error: imaging/model includes gif/Gif.h, which belongs to gif (a higher layer)")

string(REGEX MATCHALL "[^\n]*: error: [^\n]*" reported "${err}")
list(SORT reported)
if(NOT reported STREQUAL expected)
  string(REPLACE ";" "\n" reportedText "${reported}")
  string(REPLACE ";" "\n" expectedText "${expected}")
  message(FATAL_ERROR "reported:\n${reportedText}\nexpected:\n${expectedText}\nfull output:\n${err}")
endif()
if(NOT err MATCHES "Layer check: 4 include\\(s\\) break the layer order")
  message(FATAL_ERROR "no summary line in:\n${err}")
endif()
