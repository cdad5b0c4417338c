# AviSynth+ 3.7.5 cross-built from its source in the shared folder (the core only), once per
# build tree, for the Windows tests that load Korvala.dll in the real host. Without the source
# the target is absent and those tests skip.
set(KORVALA_AVISYNTH_SOURCE "${KORVALA_SHARED_DIR}/avisynthplus-3.7.5/source/AviSynthPlus-3.7.5-source.tar.xz"
    CACHE FILEPATH "AviSynth+ 3.7.5's source archive, cross-built for the Windows tests")
if(NOT EXISTS ${KORVALA_AVISYNTH_SOURCE})
  message(STATUS "No AviSynth+ source (${KORVALA_AVISYNTH_SOURCE}): the tests in a real AviSynth+ skip")
  return()
endif()
include(ExternalProject)
set(_avs ${CMAKE_BINARY_DIR}/avisynthplus)
ExternalProject_Add(avisynth_windows
  URL ${KORVALA_AVISYNTH_SOURCE}
  DOWNLOAD_EXTRACT_TIMESTAMP ON
  PREFIX ${_avs}/work
  INSTALL_DIR ${_avs}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
             -DCMAKE_BUILD_TYPE=Release -DENABLE_PLUGINS=OFF -DENABLE_CUDA=OFF
             -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
  BUILD_BYPRODUCTS ${_avs}/bin/AviSynth.dll ${_avs}/lib/AviSynth.dll.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
set(KORVALA_AVISYNTH_WINDOWS_DIR ${_avs} CACHE INTERNAL "The cross-built AviSynth+ (bin/, lib/, include/)")
