# Imported targets for the libraries that scripts/deps.sh cross-builds.
if(NOT EXISTS ${VELMO_DEPS}/lib/libjpeg.a)
  message(FATAL_ERROR "No dependencies in ${VELMO_DEPS}: run scripts/setup.sh")
endif()

function(velmo_import name lib)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${lib})
  target_include_directories(${name} INTERFACE ${ARGN})
endfunction()

velmo_import(deps::zlib /usr/x86_64-w64-mingw32/lib/libz.a /usr/x86_64-w64-mingw32/include)
velmo_import(deps::jpeg ${VELMO_DEPS}/lib/libjpeg.a ${VELMO_DEPS}/include)
velmo_import(deps::png ${VELMO_DEPS}/lib/libpng16.a ${VELMO_DEPS}/include)
target_link_libraries(deps::png INTERFACE deps::zlib)
velmo_import(deps::openjpeg ${VELMO_DEPS}/lib/libopenjp2.a ${VELMO_DEPS}/include/openjpeg-2.5)
target_compile_definitions(deps::openjpeg INTERFACE OPJ_STATIC)
velmo_import(deps::raw ${VELMO_DEPS}/lib/libraw.a ${VELMO_DEPS}/include)
target_compile_definitions(deps::raw INTERFACE LIBRAW_NODLL LIBRAW_NOTHREADS)
target_link_libraries(deps::raw INTERFACE ws2_32)

# GoogleTest, cross-built from Debian's sources for the test executables.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
