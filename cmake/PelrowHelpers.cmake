# Small helpers so that each area of the source tree builds the same way.
#
# The core (everything outside a `qt/` folder) never sees Qt: its object libraries
# are compiled without Qt on the include path. Code under `qt/` folders is the
# widget layer and is built into pelrow_ui.

# pelrow_core_area(<name> <dir>): an object library of the area's plain C++ sources
# (files directly in <dir>, not in its subfolders).
function(pelrow_core_area name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_library(${name} OBJECT ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY PELROW_CORE_AREAS ${name})
endfunction()

# pelrow_gtest(<name> <dir> LIBS ...): one GoogleTest executable from every .cpp
# in <dir>, registered with CTest test by test.
function(pelrow_gtest name dir)
  cmake_parse_arguments(ARG "" "" "LIBS;PROPERTIES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${ARG_PROPERTIES})
endfunction()
