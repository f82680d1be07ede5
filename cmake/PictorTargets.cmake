# Helpers shared by every folder's CMakeLists.txt.

# Adds every immediate sub-folder of DIR that has a CMakeLists.txt, so a new tool,
# test group or example needs no edit of a shared file.
function(pictor_add_child_dirs dir)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
    return()
  endif()
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${child})
      add_subdirectory(${child} ${CMAKE_BINARY_DIR}/${rel})
    endif()
  endforeach()
endfunction()

# GoogleTest from Debian's sources (package googletest), built with the same
# compiler and flags as the code under test; this works for the mingw build too.
macro(pictor_use_googletest)
  set(PICTOR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # Third-party code: built without the project's warning flags, and its headers are
  # system headers to the tests that include them.
  get_directory_property(pictor_saved_options COMPILE_OPTIONS)
  set(pictor_gtest_options ${pictor_saved_options})
  if(PICTOR_WARNING_GENEX)
    list(REMOVE_ITEM pictor_gtest_options ${PICTOR_WARNING_GENEX})
  endif()
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${pictor_gtest_options}")
  add_subdirectory(${PICTOR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${pictor_saved_options}")
  enable_testing()
  if(WIN32)
    include(PictorWine)
  endif()
endmacro()

set(PICTOR_RESULTS_DIR ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${PICTOR_RESULTS_DIR})

# A GoogleTest program of portable code, built and run natively only.
#   pictor_native_test(NAME name SOURCES ... [LIBS ...])
function(pictor_native_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR PICTOR_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_output=xml:${PICTOR_RESULTS_DIR}/${T_NAME}.xml)
endfunction()

# A GoogleTest program run under Wine in the per-run prefix.
#   pictor_wine_test(NAME name SOURCES ... [LIBS ...] [ENVIRONMENT var=value ...]
#                    [DISPLAY] [TIMEOUT seconds] [ARGS ...])
#   pictor_wine_test(NAME name PROGRAM other [ENVIRONMENT ...] ...): another run of a program
# DISPLAY gives it the run's Xvfb screen (Direct3D needs one).
function(pictor_wine_test)
  cmake_parse_arguments(T "DISPLAY" "NAME;TIMEOUT;PROGRAM" "SOURCES;LIBS;ENVIRONMENT;ARGS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(NOT T_PROGRAM)
    set(T_PROGRAM ${T_NAME})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  # Wine maps the host's / to drive Z:, and GoogleTest wants a drive-letter path.
  add_test(NAME ${T_NAME} COMMAND ${T_PROGRAM} ${T_ARGS} --gtest_output=xml:Z:${PICTOR_RESULTS_DIR}/${T_NAME}.xml)
  set(env ${T_ENVIRONMENT})
  if(T_DISPLAY)
    list(APPEND env PICTOR_WINE_DISPLAY=1)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    RESOURCE_LOCK wine_session
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}")
endfunction()

# A libFuzzer target of portable code (fuzz preset only). ctest runs it for a bounded
# number of inputs from its checked-in corpus folder, if any.
#   pictor_fuzz_target(NAME name SOURCES ... [LIBS ...] [RUNS n])
function(pictor_fuzz_target)
  cmake_parse_arguments(T "" "NAME;RUNS" "SOURCES;LIBS" ${ARGN})
  if(NOT PICTOR_FUZZ)
    return()
  endif()
  if(NOT T_RUNS)
    set(T_RUNS 200000)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_compile_options(${T_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${T_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} -runs=${T_RUNS} -seed=1 -max_total_time=120)
endfunction()

# One subsystem folder (log, media, kernels, capture, convert, preview, window, c-api).
# Files are told apart by name: `*_win.cpp` is Windows code and goes into the library
# (pictor_internal, which Pictor.dll and white-box Wine tests link); every other .cpp is
# portable and goes into the static library pictor_<name>_portable, built for every tree
# (native, sanitizers, fuzzers, Windows). `*.rc` resource scripts go into Pictor.dll only.
function(pictor_subsystem name)
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB all_cpp CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB win_cpp CONFIGURE_DEPENDS ${dir}/*_win.cpp)
  file(GLOB rc_files CONFIGURE_DEPENDS ${dir}/*.rc)
  set(portable_cpp ${all_cpp})
  if(win_cpp)
    list(REMOVE_ITEM portable_cpp ${win_cpp})
  endif()
  if(portable_cpp)
    add_library(pictor_${name}_portable STATIC ${portable_cpp})
    target_include_directories(pictor_${name}_portable PUBLIC ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR})
    if(WIN32)
      target_link_libraries(pictor_internal PUBLIC pictor_${name}_portable)
    endif()
  endif()
  if(WIN32)
    if(win_cpp)
      target_sources(pictor_internal PRIVATE ${win_cpp})
    endif()
    if(rc_files)
      target_sources(Pictor PRIVATE ${rc_files})
    endif()
  endif()
endfunction()
