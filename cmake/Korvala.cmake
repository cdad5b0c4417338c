# Helpers shared by every folder of the tree.

# Strict warnings for our own code only (never for third-party headers). Warnings become errors
# in the project's own builds (./run, CI); a packager's plain build with another compiler
# version must not fail on a warning that compiler adds.
option(KORVALA_WERROR "Treat warnings in the project's own code as errors" OFF)
function(korvala_strict target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KORVALA_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${KORVALA_WERROR}>:-Werror>)
  endif()
endfunction()

# Where shared test media lives (the measured conformance streams); tests skip without it.
get_filename_component(_shared "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)
set(KORVALA_SHARED_DIR "${_shared}" CACHE PATH "Shared test material")
set(KORVALA_FUZZ_SECONDS 15 CACHE STRING "How long CTest runs each fuzz target")

# The real AviSynth+ 3.7.5 (its headers and a Linux build of the library) from the shared folder,
# not part of the project: tests run scripts in it through tests/avsplus_host's program.
set(KORVALA_AVSPLUS_DIR "${KORVALA_SHARED_DIR}/avisynthplus-3.7.5")
if(NOT WIN32 AND EXISTS ${KORVALA_AVSPLUS_DIR}/include/avisynth/avisynth.h
   AND EXISTS ${KORVALA_AVSPLUS_DIR}/lib/libavisynth.so.11)
  set(KORVALA_REAL_HOST ON)
else()
  set(KORVALA_REAL_HOST OFF)
endif()

# Lets a test use tests/avsplus_host/real_host.h: KORVALA_AVSPLUS_HOST names the program, or is
# "" when the shared folder is absent (the tests then skip).
function(korvala_use_real_host target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/avsplus_host)
  if(KORVALA_REAL_HOST)
    target_compile_definitions(${target} PRIVATE KORVALA_AVSPLUS_HOST="$<TARGET_FILE:avsplus_host>")
    add_dependencies(${target} avsplus_host)
  else()
    target_compile_definitions(${target} PRIVATE KORVALA_AVSPLUS_HOST="")
  endif()
endfunction()

set(_korvala_test_defs
  KORVALA_SHARED_DIR="${KORVALA_SHARED_DIR}"
  KORVALA_BINARY_DIR="${CMAKE_BINARY_DIR}"
  KORVALA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# A GoogleTest binary, registered test by test with CTest (each test runs in its own process).
function(korvala_gtest name)
  if(NOT KORVALA_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  korvala_strict(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE ${_korvala_test_defs})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 (native at -O3, and MinGW) sees out-of-bounds copies and uninitialised strings in
    # inlined std::vector::insert and std::string code of the tests that cannot happen.
    target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-free-nonheap-object -Wno-stringop-overread
                                           -Wno-stringop-overflow -Wno-maybe-uninitialized)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Listing the tests would start the emulator at build time: the binary is one CTest test.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED wine_prefix)
  else()
    # The sanitizers make the decoding tests several times slower. Kept indexes go to a folder
    # of the build tree, never to the user's cache.
    if(KORVALA_SANITIZE)
      set(timeout 900)
    else()
      set(timeout 300)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${timeout}
                         ENVIRONMENT "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache")
  endif()
endfunction()

# A benchmark binary (Google Benchmark or a plain main printing ratios); never part of CTest.
function(korvala_benchmark name)
  if(NOT KORVALA_BENCHMARKS OR KORVALA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  korvala_strict(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Threads::Threads)
  target_compile_definitions(${name} PRIVATE ${_korvala_test_defs})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# A libFuzzer target; only in a KORVALA_FUZZ build (clang), where CTest runs it for a fixed time.
function(korvala_fuzzer name)
  if(NOT KORVALA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  korvala_strict(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${KORVALA_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=4096 ${corpus})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS fuzz)
endfunction()
