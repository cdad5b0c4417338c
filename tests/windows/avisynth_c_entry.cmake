# avs_frames.exe, a host that speaks only the C interface, beside the cross-built AviSynth.dll
# and the MinGW runtime DLLs that needs; one test per stream (avisynth_c_entry.sh).
set(_avs ${KORVALA_AVISYNTH_WINDOWS_DIR})
set(_host_dir ${CMAKE_CURRENT_BINARY_DIR}/avisynth_host)
add_executable(avs_frames avs_frames.c)
korvala_strict(avs_frames)
target_include_directories(avs_frames SYSTEM PRIVATE ${_avs}/include/avisynth)
target_link_libraries(avs_frames PRIVATE ${_avs}/lib/AviSynth.dll.a)
set_target_properties(avs_frames PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${_host_dir})
add_dependencies(avs_frames avisynth_windows korvala mfx_software_runtime)
set(_dlls ${_avs}/bin/AviSynth.dll)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND _dlls ${_path})
endforeach()
add_custom_command(TARGET avs_frames POST_BUILD COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_dlls} ${_host_dir})

function(korvala_avs_test name)
  add_test(NAME avisynth_c_${name}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/avisynth_c_entry.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:avs_frames> $<TARGET_FILE:korvala> ${CMAKE_CURRENT_BINARY_DIR}/avs_out/${name} ${ARGN})
  set_tests_properties(avisynth_c_${name} PROPERTIES FIXTURES_REQUIRED wine_prefix SKIP_RETURN_CODE 77 TIMEOUT 600)
endfunction()

# Reference digests of each view (the shared folder's media READMEs).
set(_media ${KORVALA_SHARED_DIR}/media)
korvala_avs_test(MVCRP_2 pair ${_media}/MVCRP_2.base.h264 ${_media}/MVCRP_2.dep.mvc 250
                 b89fdf72007d76e4611237ca113a9e47 5dc61db7e682982679042ef554968245)
# The shared stereo streams and their digests: the one table every front end's tests read.
set(_table ${PROJECT_SOURCE_DIR}/tests/software_runtime/stereo_streams.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_table})
set(_row "\"(mvc_[a-z0-9_]+)\", ([0-9]+), \"([0-9a-f]+)\", \"([0-9a-f]+)\"")
file(STRINGS ${_table} _streams REGEX "${_row}")
foreach(stream ${_streams})
  string(REGEX MATCH "${_row}" _match "${stream}")
  set(_name ${CMAKE_MATCH_1})
  korvala_avs_test(${_name} pair ${_media}/mvc/${_name}.base.h264 ${_media}/mvc/${_name}.dep.mvc
                   ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
endforeach()
# Counted from the stream (NumFrames 0), served backwards by seeks to IDR and non-IDR I access
# units; the stream has no colour description.
korvala_avs_test(mvc_idr_periodic_reverse reverse ${_media}/mvc/mvc_idr_periodic.base.h264
                 ${_media}/mvc/mvc_idr_periodic.dep.mvc 0 686549ef67e93292ac0d33c37f5570d8
                 6d6d4dda6e92281a3e1d955f178c9e57 2)
korvala_avs_test(avc_like_ffmpeg ffmpeg ${_media}/BA1_Sony_D.264)
# An error leaves the plugin as a C result, with the clip's own message.
korvala_avs_test(missing_file error ${CMAKE_CURRENT_BINARY_DIR}/absent.264 "Korvala: Can't open Source File")
# This build reads no containers (no libavformat): an M2TS is refused, saying so.
korvala_avs_test(container_refused refused ${_media}/containers/mvc_ibbp_cabac/mvc_ibbp_cabac.m2ts
                 "Korvala: ERROR -> Containers (M2TS, SSIF, MPLS, MKV) are not read by this build")
