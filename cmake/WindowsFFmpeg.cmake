# FFmpeg cross-built once per build tree from Debian's source package, with Windows threads and
# nothing detected from the build machine: libavcodec and libavutil for the software runtime
# (the H.264, HEVC, MPEG-2 and VC-1 decoders and their parsers), libavformat for the plugin's
# containers (the mpegts and matroska demuxers over the file protocol, no network). Defines the
# targets korvala_libav and korvala_avformat.
include(ExternalProject)
find_program(KORVALA_NASM nasm)
if(NOT KORVALA_NASM)
  message(FATAL_ERROR "FFmpeg's assembly needs nasm (./run test --windows installs it)")
endif()
set(KORVALA_FFMPEG_SOURCE_DIR "" CACHE PATH
    "An unpacked FFmpeg 5.1 source to cross-build (default: Debian's source package, through apt-get source)")

set(_ff ${CMAKE_BINARY_DIR}/ffmpeg)
if(KORVALA_FFMPEG_SOURCE_DIR)
  set(_ff_source ${KORVALA_FFMPEG_SOURCE_DIR})
  set(_ff_download "")
else()
  set(_ff_source ${_ff}/src/ffmpeg)
  set(_ff_download DOWNLOAD_COMMAND ${CMAKE_COMMAND} -DDEST=${_ff}/src -P ${CMAKE_CURRENT_LIST_DIR}/FetchFFmpegSource.cmake)
endif()
set(_ff_libs ${_ff}/lib/libavcodec.a ${_ff}/lib/libavutil.a)
set(_ff_avformat ${_ff}/lib/libavformat.a)
ExternalProject_Add(ffmpeg_windows
  PREFIX ${_ff}/work
  ${_ff_download}
  SOURCE_DIR ${_ff_source}
  BINARY_DIR ${_ff}/build
  INSTALL_DIR ${_ff}
  CONFIGURE_COMMAND <SOURCE_DIR>/configure --prefix=<INSTALL_DIR>
    --enable-cross-compile --target-os=mingw32 --arch=x86_64 --cross-prefix=x86_64-w64-mingw32-
    --cc=${CMAKE_C_COMPILER} --cxx=${CMAKE_CXX_COMPILER} --x86asmexe=${KORVALA_NASM}
    --disable-autodetect --disable-everything --disable-programs --disable-doc --disable-debug
    --disable-avdevice --disable-avfilter --disable-swscale --disable-swresample
    --disable-postproc --disable-network
    --enable-static --disable-shared --enable-w32threads
    --enable-decoder=h264,hevc,mpeg2video,vc1
    --enable-parser=h264,hevc,mpegvideo,vc1
    --enable-demuxer=mpegts,matroska --enable-protocol=file
  BUILD_BYPRODUCTS ${_ff_libs} ${_ff_avformat}
  LOG_DOWNLOAD ON LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

file(MAKE_DIRECTORY ${_ff}/include)
add_library(korvala_libav INTERFACE)
add_dependencies(korvala_libav ffmpeg_windows)
target_include_directories(korvala_libav SYSTEM INTERFACE ${_ff}/include)
# What FFmpeg's own pkg-config files list for these two libraries on Windows.
target_link_libraries(korvala_libav INTERFACE ${_ff_libs} ole32 user32 bcrypt)

# libavformat comes before the libraries it calls.
add_library(korvala_avformat INTERFACE)
target_link_libraries(korvala_avformat INTERFACE ${_ff_avformat} korvala_libav)
