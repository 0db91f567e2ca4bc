include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

# Every build first checks that no folder includes a header of its own or a
# higher layer (cmake/Layers.cmake); each library waits for the check, so a
# build of any single target runs it too.
add_custom_target(check_layers ALL
  COMMAND ${CMAKE_COMMAND} -DVELMO_LAYER_ROOT=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayers.cmake
  COMMENT "Checking the include layers of the libraries"
  VERBATIM)

# velmo_layer_of(DIR OUT): the layer number of a folder in VELMO_LAYERS
# (lowest 0); a folder missing from the order is a configuration error.
function(velmo_layer_of dir out)
  set(rank 0)
  foreach(layer IN LISTS VELMO_LAYERS)
    string(REPLACE "," ";" members "${layer}")
    if("${dir}" IN_LIST members)
      set(${out} ${rank} PARENT_SCOPE)
      return()
    endif()
    math(EXPR rank "${rank} + 1")
  endforeach()
  message(FATAL_ERROR "${dir} is not in the layer order of cmake/Layers.cmake")
endfunction()

# Runs once the whole project is configured: a library may link only
# libraries of lower layers (other names are system or third-party
# libraries).
function(velmo_check_library_layers)
  get_property(libs GLOBAL PROPERTY VELMO_LIBRARIES)
  foreach(lib IN LISTS libs)
    get_property(rank GLOBAL PROPERTY VELMO_LAYER_${lib})
    get_property(deps GLOBAL PROPERTY VELMO_LINKS_${lib})
    foreach(dep IN LISTS deps)
      if(dep IN_LIST libs)
        get_property(depRank GLOBAL PROPERTY VELMO_LAYER_${dep})
        if(NOT depRank LESS rank)
          message(SEND_ERROR "${lib} links ${dep}, which is not on a lower layer (cmake/Layers.cmake)")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL velmo_check_library_layers)

# velmo_library(NAME DIR [DEPS...]): a static library of every .cpp in DIR and its subfolders,
# created only once the folder has a unit. Dependencies between the project's
# libraries are declared in DIR/deps.cmake as set(VELMO_LIB_DEPS ...).
function(velmo_library name dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.c)
  if(NOT srcs)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  set(VELMO_LIB_DEPS "")
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/deps.cmake)
    include(${CMAKE_SOURCE_DIR}/${dir}/deps.cmake)
  endif()
  target_link_libraries(${name} PUBLIC ${VELMO_LIB_DEPS})
  add_dependencies(${name} check_layers)
  velmo_layer_of(${dir} rank)
  set_property(GLOBAL APPEND PROPERTY VELMO_LIBRARIES ${name})
  set_property(GLOBAL PROPERTY VELMO_LAYER_${name} ${rank})
  set_property(GLOBAL PROPERTY VELMO_LINKS_${name} ${VELMO_LIB_DEPS})
endfunction()

# velmo_test(NAME DIR LIBS...): one test executable of every .cpp in
# tests/DIR, run under Wine (scripts/wine-exec.sh) on its own display with
# its own Wine prefix and wineserver. With VELMO_TEST_SHARDS_<NAME> set to N
# it is N ctest tests NAME_1ofN..NAME_NofN, each running every N-th test of
# the program (GoogleTest's sharding), so new tests join a shard by
# themselves and the shards run in parallel.
function(velmo_test name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  foreach(lib ${ARGN})
    if(NOT TARGET ${lib})
      return()
    endif()
  endforeach()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE test_support ${ARGN})
  # GCC 12 reports false -Wrestrict/-Warray-bounds/-Wstringop-overread warnings inside inlined
  # std::string and std::vector code at -O2 (tests build many strings); the
  # libraries keep the full warning set.
  target_compile_options(${name} PRIVATE -Wno-restrict -Wno-array-bounds -Wno-stringop-overread)
  set(shards "${VELMO_TEST_SHARDS_${name}}")
  if(NOT shards)
    set(shards 1)
  endif()
  foreach(i RANGE 1 ${shards})
    if(shards EQUAL 1)
      set(test ${name})
      set(env "")
    else()
      set(test ${name}_${i}of${shards})
      math(EXPR index "${i} - 1")
      set(env "GTEST_TOTAL_SHARDS=${shards}" "GTEST_SHARD_INDEX=${index}")
    endif()
    add_test(NAME ${test} COMMAND ${name})
    velmo_isolated_test(${test} 600)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${env})
    set_property(GLOBAL APPEND PROPERTY VELMO_TESTS_OF_${name} ${test})
  endforeach()
endfunction()

# velmo_isolated_test(TEST SECONDS): a ctest test whose Windows programs run
# isolated (see scripts/wine-exec.sh) with a time limit; the program's own
# limit is shorter than ctest's, so a hung program or wineserver is ended and
# cleaned up by the wrapper before ctest gives up on it.
function(velmo_isolated_test test seconds)
  math(EXPR program "${seconds} - 30")
  set_tests_properties(${test} PROPERTIES TIMEOUT ${seconds}
    ENVIRONMENT "VELMO_ISOLATE=1;VELMO_TEST_TIMEOUT=${program}")
endfunction()

# velmo_tests_of(NAME OUT): the ctest tests of test program NAME (its shards).
function(velmo_tests_of name out)
  get_property(tests GLOBAL PROPERTY VELMO_TESTS_OF_${name})
  set(${out} ${tests} PARENT_SCOPE)
endfunction()
