# Fails when a folder includes a header of a folder on its own or a higher
# layer (see cmake/Layers.cmake), so that the libraries' dependency graph
# stays free of cycles.
#
#   cmake -DVELMO_LAYER_ROOT=<source tree> [-DVELMO_LAYER_FILE=<file>]
#         -P cmake/CheckLayers.cmake
#
# Scans every .h, .hpp, .inc, .c and .cpp file under <root>/<folder> and
# <root>/tests/<folder> of each listed folder; an include names a folder when
# its path starts with that folder (the longest listed folder wins). Each
# offending include is reported as "file:line: error: ..." (relative to the
# root) and the script exits with an error after listing them all.
cmake_minimum_required(VERSION 3.25)

if(NOT VELMO_LAYER_ROOT)
  message(FATAL_ERROR "CheckLayers: set VELMO_LAYER_ROOT to the source tree")
endif()
if(NOT VELMO_LAYER_FILE)
  set(VELMO_LAYER_FILE ${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)
endif()
include(${VELMO_LAYER_FILE})
if(NOT VELMO_LAYERS)
  message(FATAL_ERROR "CheckLayers: ${VELMO_LAYER_FILE} declares no VELMO_LAYERS")
endif()

# Folder -> layer number, lowest layer 0.
set(folders "")
set(rank 0)
foreach(layer IN LISTS VELMO_LAYERS)
  string(REPLACE "," ";" members "${layer}")
  foreach(folder IN LISTS members)
    string(STRIP "${folder}" folder)
    list(APPEND folders "${folder}")
    set("rank_${folder}" ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

# The listed folder an include path belongs to (the longest prefix), or "".
function(layer_folder_of path out)
  set(best "")
  string(LENGTH "" bestLength)
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" n)
    string(SUBSTRING "${path}" 0 ${n} head)
    if(head STREQUAL "${folder}/" AND n GREATER bestLength)
      set(best "${folder}")
      set(bestLength ${n})
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

# 1-based line of the first occurrence of text in file.
function(line_of file text out)
  file(READ "${file}" content)
  string(FIND "${content}" "${text}" at)
  string(SUBSTRING "${content}" 0 ${at} before)
  string(REGEX MATCHALL "\n" breaks "${before}")
  list(LENGTH breaks n)
  math(EXPR n "${n} + 1")
  set(${out} ${n} PARENT_SCOPE)
endfunction()

set(violations 0)
set(includeLine "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]")
foreach(folder IN LISTS folders)
  set(own ${rank_${folder}})
  file(GLOB_RECURSE files LIST_DIRECTORIES false
    "${VELMO_LAYER_ROOT}/${folder}/*.h" "${VELMO_LAYER_ROOT}/${folder}/*.hpp"
    "${VELMO_LAYER_ROOT}/${folder}/*.inc" "${VELMO_LAYER_ROOT}/${folder}/*.c"
    "${VELMO_LAYER_ROOT}/${folder}/*.cpp"
    "${VELMO_LAYER_ROOT}/tests/${folder}/*.h" "${VELMO_LAYER_ROOT}/tests/${folder}/*.hpp"
    "${VELMO_LAYER_ROOT}/tests/${folder}/*.inc" "${VELMO_LAYER_ROOT}/tests/${folder}/*.c"
    "${VELMO_LAYER_ROOT}/tests/${folder}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "${includeLine}")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "${includeLine}.*" "\\1" path "${line}")
      layer_folder_of("${path}" target)
      if(target STREQUAL "" OR target STREQUAL folder)
        continue()
      endif()
      if(rank_${target} LESS own)
        continue()
      endif()
      if(rank_${target} EQUAL own)
        set(why "a peer on the same layer")
      else()
        set(why "a higher layer")
      endif()
      line_of("${file}" "${line}" at)
      file(RELATIVE_PATH shown "${VELMO_LAYER_ROOT}" "${file}")
      # One unwrapped line per include, in the compilers' file:line form.
      message(NOTICE "${shown}:${at}: error: ${folder} includes ${path}, which belongs to ${target} (${why})")
      math(EXPR violations "${violations} + 1")
    endforeach()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "Layer check: ${violations} include(s) break the layer order of ${VELMO_LAYER_FILE}")
endif()
