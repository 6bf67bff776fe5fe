# Shared build rules: warnings, sanitizers, library components, tests.

# Rebuilds of the several build folders the test script makes share one
# compiler cache where ccache is installed.
option(TSR_CCACHE "Compile through ccache when it is installed" ON)
if(TSR_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(TSR_CCACHE_PROGRAM ccache)
  if(TSR_CCACHE_PROGRAM)
    # Paths relative to the source folder, so clones in other folders share hits.
    set(tsr_ccache_launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
                            ${TSR_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${tsr_ccache_launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${tsr_ccache_launcher})
  endif()
endif()

# Warnings stop only our own builds (the test script turns TSR_WERROR on);
# another compiler or optimiser may warn where ours does not.
option(TSR_WERROR "Treat compiler warnings as errors" OFF)
set(TSR_WARNINGS -Wall -Wextra -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor> -Wpedantic)
if(TSR_WERROR)
  list(APPEND TSR_WARNINGS -Werror)
endif()

if(TSR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  # GCC 12 with these sanitizers at -O2 reports "may be used uninitialized"
  # inside <regex> and <functional>; the plain build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-maybe-uninitialized>)
  endif()
  add_link_options(-fsanitize=address,undefined)
elseif(TSR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TSR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TSR_SANITIZE must be empty, address or thread")
endif()

# Keeps the files of list var that belong to the system built for: those
# ending in _posix.cpp or _linux.cpp only on Linux, _win32.cpp only on Windows.
function(tsr_keep_platform_files var)
  set(files ${${var}})
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "_(posix|linux)\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

# Our own targets compile warning-free; third-party code is not held to it.
function(tsr_warnings target)
  target_compile_options(${target} PRIVATE ${TSR_WARNINGS})
endfunction()

# A part of libtessaro: a static, position-independent library with hidden
# symbols. The shared library is made of all components (library/CMakeLists.txt);
# tests link the components they exercise.
function(tsr_component name)
  cmake_parse_arguments(C "" "" "SOURCES;DEPS" ${ARGN})
  add_library(tsr_${name} STATIC ${C_SOURCES})
  target_include_directories(tsr_${name} PUBLIC ${PROJECT_SOURCE_DIR}/library ${PROJECT_SOURCE_DIR}/library/include)
  set_target_properties(tsr_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                               C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(tsr_${name} PRIVATE TSR_BUILDING_LIBRARY)
  target_link_libraries(tsr_${name} PUBLIC ${C_DEPS})
  tsr_warnings(tsr_${name})
  set_property(GLOBAL APPEND PROPERTY TSR_COMPONENTS tsr_${name})
endfunction()

# A GoogleTest executable registered with CTest. In the Windows build each
# runs as one program under Wine (one Wine start per suite, not per case).
function(tsr_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(TARGET tsr_test_platform)
    target_link_libraries(${name} PRIVATE tsr_test_platform)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/library ${PROJECT_SOURCE_DIR}/library/include
                                             ${PROJECT_SOURCE_DIR}/tests)
  tsr_warnings(${name})
  # Discovered tests take one label text; ctest -L/-LE match it as a regular
  # expression, so "presslink,concurrency" is found by -L concurrency.
  string(REPLACE ";" "," label_text "${T_LABELS}")
  if(WIN32)
    # No COM port of the machine (Wine maps them to /dev/ttyS*): port n is a
    # pipe nobody serves unless a test points TESSARO_SERIAL_DIR elsewhere.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "TESSARO_SERIAL_DIR=\\\\.\\pipe\\tessaro-no-ports"
                                            LABELS "windows,${label_text}")
    return()
  endif()
  # COM n of a test is never a real port of the machine: tests that want one
  # point TESSARO_SERIAL_DIR at the simulated console's links themselves.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES
                       ENVIRONMENT "TESSARO_SERIAL_DIR=${PROJECT_BINARY_DIR}/no-serial-ports"
                       LABELS "${label_text}")
endfunction()
