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

# vistrelle_fuzz_targets()
# One fuzz target per <name>_fuzz.cpp in the calling folder.  A target's
# source names the libraries it needs on a line of its own:
#   // Links: vistrelle_device_protocol
# and its inputs live in <name>/: corpus/ (seeds, never empty), reproducers/
# (inputs that once found a fault) and pending/ (inputs that still find one
# in code another change repairs; not replayed until they move over).
# The fuzz preset (VISTRELLE_FUZZ, clang) builds libFuzzer programs
# <name>_fuzz.  Every other build makes <name>_replay from the same source and
# one shared main, and ctest replays corpus and reproducers with it: labelled
# tsan as well, so that every preset runs the replay.
option(VISTRELLE_FUZZ "Build the fuzz targets as libFuzzer programs (needs clang)" OFF)
function(vistrelle_fuzz_targets)
  set(labels fuzz tsan)
  if(VISTRELLE_ONLY_TEST_LABEL AND NOT VISTRELLE_ONLY_TEST_LABEL IN_LIST labels)
    return()
  endif()
  if(VISTRELLE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "libFuzzer programs need clang (cmake --preset fuzz)")
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_fuzz.cpp)
  foreach(source IN LISTS sources)
    get_filename_component(stem ${source} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${stem})
    set(inputs ${CMAKE_CURRENT_SOURCE_DIR}/${name})
    if(NOT IS_DIRECTORY ${inputs}/corpus)
      message(FATAL_ERROR "fuzz target ${name}: no seed corpus in ${inputs}/corpus")
    endif()
    file(STRINGS ${source} link_line REGEX "^// Links: " LIMIT_COUNT 1)
    if(NOT link_line)
      message(FATAL_ERROR "fuzz target ${name}: ${source} has no \"// Links: \" line")
    endif()
    string(REGEX REPLACE "^// Links: *" "" links "${link_line}")
    separate_arguments(links UNIX_COMMAND "${links}")

    if(VISTRELLE_FUZZ)
      set(target ${name}_fuzz)
      add_executable(${target} ${source})
      target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    else()
      set(target ${name}_replay)
      add_executable(${target} ${source} ${CMAKE_CURRENT_SOURCE_DIR}/replay_main.cpp)
    endif()
    target_include_directories(${target} PRIVATE ${VISTRELLE_INCLUDE_DIRS} ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${target} PRIVATE ${links} Threads::Threads)

    if(VISTRELLE_FUZZ)
      # Replays the seeds and reproducers once (-runs=0 fuzzes nothing).
      add_test(NAME fuzz_${name}_replay
               COMMAND ${target} -runs=0 ${inputs}/corpus ${inputs}/reproducers)
    else()
      add_test(NAME fuzz_${name}_replay
               COMMAND ${target} --corpus ${inputs}/corpus ${inputs}/reproducers)
    endif()
    set_tests_properties(fuzz_${name}_replay PROPERTIES LABELS "${labels}" TIMEOUT 300)
  endforeach()
endfunction()
