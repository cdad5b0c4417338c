# What a Windows build (MinGW-w64 cross build, or MSVC) needs beyond the common tree.

# Debian's libmfx headers are portable; any Media SDK or oneVPL include folder serves as well.
set(KORVALA_MFX_INCLUDE_DIR "/usr/include/mfx" CACHE PATH "Folder holding mfxvideo.h")
set(KORVALA_MFX_DISPATCHER "" CACHE FILEPATH
    "A Windows Media SDK or oneVPL dispatcher library to link (default: our stand-in, which opens no session)")
if(NOT EXISTS ${KORVALA_MFX_INCLUDE_DIR}/mfxvideo.h)
  message(FATAL_ERROR "No mfxvideo.h in KORVALA_MFX_INCLUDE_DIR (${KORVALA_MFX_INCLUDE_DIR})")
endif()

add_library(korvala_mfx INTERFACE)
target_include_directories(korvala_mfx SYSTEM INTERFACE ${KORVALA_MFX_INCLUDE_DIR})
if(KORVALA_MFX_DISPATCHER)
  target_link_libraries(korvala_mfx INTERFACE ${KORVALA_MFX_DISPATCHER})
  message(STATUS "Media SDK dispatcher: ${KORVALA_MFX_DISPATCHER}")
else()
  # Defined in platform/mfx/standin_dispatcher.
  target_link_libraries(korvala_mfx INTERFACE mfx_standin_dispatcher)
  message(STATUS "Media SDK dispatcher: the stand-in (every session request answers MFX_ERR_UNSUPPORTED)")
endif()

# The SIMD and benchmark parts need no change; benchmarks are for the native build only.
set(KORVALA_BENCHMARKS OFF)

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
