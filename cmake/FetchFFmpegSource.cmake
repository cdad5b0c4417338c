# Unpacks Debian's source package of FFmpeg into DEST/ffmpeg, the way a packager gets it:
# `apt-get source` (Debian's patches applied), the version of the libavcodec the native build
# links when dpkg knows it. Run by the Windows build's FFmpeg step (cmake -P).
if(EXISTS ${DEST}/ffmpeg/configure)
  return()
endif()
file(MAKE_DIRECTORY ${DEST})
execute_process(COMMAND dpkg-query -W -f=\${source:Version} libavcodec-dev
                OUTPUT_VARIABLE version RESULT_VARIABLE rc ERROR_QUIET)
set(package ffmpeg)
if(rc EQUAL 0 AND version)
  set(package "ffmpeg=${version}")
endif()
execute_process(COMMAND apt-get source -qq --only-source ${package}
                WORKING_DIRECTORY ${DEST} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "apt-get source ${package} failed: the Windows build takes FFmpeg from Debian's "
                      "source package and needs a deb-src entry and dpkg-dev (./run test --windows adds both)")
endif()
file(GLOB unpacked LIST_DIRECTORIES true ${DEST}/ffmpeg-*)
list(FILTER unpacked EXCLUDE REGEX "\\.(tar|dsc|asc)")
list(LENGTH unpacked n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "Expected one unpacked FFmpeg source folder in ${DEST}, found: ${unpacked}")
endif()
file(RENAME ${unpacked} ${DEST}/ffmpeg)
