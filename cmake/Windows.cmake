# What a Windows build (MinGW-w64 cross build, or MSVC) needs beyond the common tree.

# Debian's libmfx headers are portable; any Media SDK or oneVPL include folder serves as well.
set(KORVALA_MFX_INCLUDE_DIR "/usr/include/mfx" CACHE PATH "Folder holding mfxvideo.h")
set(KORVALA_MFX_DISPATCHER "" CACHE FILEPATH
    "A Windows Media SDK or oneVPL dispatcher library to link (default: ours, which finds libmfxhw64.dll and libmfxsw64.dll)")
if(NOT EXISTS ${KORVALA_MFX_INCLUDE_DIR}/mfxvideo.h)
  message(FATAL_ERROR "No mfxvideo.h in KORVALA_MFX_INCLUDE_DIR (${KORVALA_MFX_INCLUDE_DIR})")
endif()

add_library(korvala_mfx INTERFACE)
target_include_directories(korvala_mfx SYSTEM INTERFACE ${KORVALA_MFX_INCLUDE_DIR})
if(KORVALA_MFX_DISPATCHER)
  target_link_libraries(korvala_mfx INTERFACE ${KORVALA_MFX_DISPATCHER})
  message(STATUS "Media SDK dispatcher: ${KORVALA_MFX_DISPATCHER}")
else()
  # Defined in platform/mfx/dispatcher.
  target_link_libraries(korvala_mfx INTERFACE mfx_dispatcher)
  message(STATUS "Media SDK dispatcher: ours (libmfxhw64.dll from the search path, libmfxsw64.dll beside the plugin)")
endif()

# Benchmarks measure the native build only.
set(KORVALA_BENCHMARKS OFF)

# The tests need the GCC host harness and Wine: an MSVC build makes the two programs only.
if(MSVC)
  set(KORVALA_TESTS OFF)
endif()

# GoogleTest is built from Debian's sources with the cross compiler.
if(KORVALA_TESTS)
  set(KORVALA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for the Windows tests")
  if(NOT EXISTS ${KORVALA_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${KORVALA_GTEST_SOURCE_DIR} (Debian's googletest package)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${KORVALA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Tests run through Wine, each in the build's own prefix: wine-run sets it and quiets Wine's log.
find_program(KORVALA_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(KORVALA_WINE NAMES wine64 wine)
find_program(KORVALA_WINESERVER NAMES wineserver PATHS /usr/lib/wine /usr/lib64/wine)
set(KORVALA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(KORVALA_WINE)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/wine-run CONTENT [[#!/bin/sh
# Runs a Windows program of this build under Wine, in the build's own prefix.
export WINEPREFIX="@KORVALA_WINEPREFIX@"
export WINEDEBUG="${WINEDEBUG:--all}"
exec "@KORVALA_WINE@" "$@"
]] @ONLY)
  file(CHMOD ${CMAKE_BINARY_DIR}/wine-run PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
else()
  message(STATUS "Wine not found: the Windows tests can be built but not run here")
endif()

# A MinGW build makes the software runtime (libmfxsw64.dll) too, on FFmpeg cross-built here.
if(MINGW)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsFFmpeg.cmake)
endif()

# The real host for the Windows tests of the plugin's C entry.
if(MINGW AND KORVALA_TESTS)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsAvisynth.cmake)
endif()
