# velmo_library(NAME DIR [DEPS...]): a static library of every .cpp in DIR,
# created only once the folder has a unit. Dependencies between the project's
# libraries are declared in DIR/deps.cmake as set(VELMO_LIB_DEPS ...).
function(velmo_library name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.c)
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
endfunction()

# velmo_test(NAME DIR LIBS...): one test executable of every .cpp in
# tests/DIR, run under Wine as one ctest test.
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
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()
