# Helpers shared by every folder's CMakeLists.txt.

set(VISTRELLE_INCLUDE_DIRS ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})

# A build for one test label only (the ThreadSanitizer build): only tests with
# that label are made, and libraries are built only as those tests need them.
set(VISTRELLE_ONLY_TEST_LABEL "" CACHE STRING "Build only the tests with this label")
if(VISTRELLE_ONLY_TEST_LABEL)
  set(VISTRELLE_LIBRARY_SCOPE EXCLUDE_FROM_ALL)
else()
  set(VISTRELLE_LIBRARY_SCOPE "")
endif()

# vistrelle_library(<target> DIR <folder> [LINK <libs...>] [PRIVATE_LINK <libs...>])
# One static library from every .cpp below <folder> (relative to the calling
# CMakeLists.txt).  Sources are globbed so that adding a class means adding a
# .h/.cpp pair, nothing else.
function(vistrelle_library target)
  cmake_parse_arguments(ARG "" "DIR" "LINK;PRIVATE_LINK;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.c)
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  # The layering guard (tests/layering) checks every library's links against
  # the folder it was built from.
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR})
  set_property(GLOBAL APPEND PROPERTY VISTRELLE_LIBRARIES "${target}")
  set_property(GLOBAL PROPERTY VISTRELLE_LIBRARY_FOLDER_${target} "${folder}")
  if(sources)
    add_library(${target} STATIC ${VISTRELLE_LIBRARY_SCOPE} ${sources})
    target_include_directories(${target} PUBLIC ${VISTRELLE_INCLUDE_DIRS})
    target_link_libraries(${target} PUBLIC ${ARG_LINK} PRIVATE ${ARG_PRIVATE_LINK})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${VISTRELLE_INCLUDE_DIRS})
    target_link_libraries(${target} INTERFACE ${ARG_LINK})
  endif()
endfunction()

# vistrelle_tests(<prefix> [LINK <libs...>] [LABELS <labels...>] [ENVIRONMENT <k=v...>]
#                 [OWN_MAIN])
# One GoogleTest executable per *_test.cpp in the calling folder, named
# <prefix>_<file stem>, so a broken test file never blocks its neighbours;
# each is one ctest entry.  OWN_MAIN: a linked library brings main() (the UI
# harness's, which sets up Qt first) in place of GoogleTest's.
function(vistrelle_tests prefix)
  cmake_parse_arguments(ARG "OWN_MAIN" "TIMEOUT" "LINK;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(VISTRELLE_ONLY_TEST_LABEL AND NOT VISTRELLE_ONLY_TEST_LABEL IN_LIST ARG_LABELS)
    return()
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(test_source IN LISTS tests)
    get_filename_component(stem ${test_source} NAME_WE)
    set(target ${prefix}_${stem})
    add_executable(${target} ${test_source})
    target_include_directories(${target} PRIVATE ${VISTRELLE_INCLUDE_DIRS}
                                                 ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${target} PRIVATE ${ARG_LINK} GTest::gtest GTest::gmock
                                            Threads::Threads)
    if(NOT ARG_OWN_MAIN)
      target_link_libraries(${target} PRIVATE GTest::gtest_main)
    endif()
    # One ctest entry per executable: its cases run in one process, and a
    # failure names the case in the output.
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES LABELS "${prefix};${ARG_LABELS}"
                                              TIMEOUT ${ARG_TIMEOUT})
    if(ARG_ENVIRONMENT)
      set_tests_properties(${target} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
  endforeach()
endfunction()

# vistrelle_bench(<name> <sources...> [LINK <libs...>])
function(vistrelle_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${VISTRELLE_INCLUDE_DIRS})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} benchmark::benchmark Threads::Threads)
endfunction()
