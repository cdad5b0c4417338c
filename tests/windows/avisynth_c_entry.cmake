# avs_frames.exe, a host that speaks only the C interface, beside the cross-built AviSynth.dll
# and the MinGW runtime DLLs that needs; one test per stream (avisynth_c_entry.sh).
set(_avs ${KORVALA_AVISYNTH_WINDOWS_DIR})
set(_host_dir ${CMAKE_CURRENT_BINARY_DIR}/avisynth_host)
add_executable(avs_frames avs_frames.c)
korvala_strict(avs_frames)
target_include_directories(avs_frames SYSTEM PRIVATE ${_avs}/include/avisynth)
target_link_libraries(avs_frames PRIVATE ${_avs}/lib/AviSynth.dll.a shell32)
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

# The Linux tests' tables (one entry a line): the stereo streams with each view's reference
# digest, and the container forms of a set.
set(_media ${KORVALA_SHARED_DIR}/media)
set(_table ${PROJECT_SOURCE_DIR}/tests/software_runtime/stereo_streams.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_table})
file(STRINGS ${_table} _entries REGEX "^ *{\"")
set(_sets "")
set(_forms "")
foreach(_e IN LISTS _entries)
  if(_e MATCHES "^ *{\"([a-z0-9_]+)\", ([0-9]+), \"([0-9a-f]+)\", \"([0-9a-f]+)\"}")
    set(_set_${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
    list(APPEND _sets ${CMAKE_MATCH_1})
  elseif(_e MATCHES "^ *{\"([a-z0-9]+)\", \"([^\"]*)\", \"([^\"]*)\", ([0-9]+)}")
    list(APPEND _forms ${CMAKE_MATCH_1})
    set(_mvc "${CMAKE_MATCH_3}")
    if(_mvc STREQUAL "")
      set(_mvc -)  # none
    endif()
    set(_form_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}" ${_mvc} ${CMAKE_MATCH_4})
  endif()
endforeach()
if(NOT _sets OR NOT _forms)
  message(FATAL_ERROR "No stereo streams or container forms read from tests/software_runtime/stereo_streams.h")
endif()

korvala_avs_test(MVCRP_2 pair ${_media}/MVCRP_2.base.h264 ${_media}/MVCRP_2.dep.mvc 250
                 b89fdf72007d76e4611237ca113a9e47 5dc61db7e682982679042ef554968245)
foreach(_name IN LISTS _sets)
  korvala_avs_test(${_name} pair ${_media}/mvc/${_name}.base.h264 ${_media}/mvc/${_name}.dep.mvc ${_set_${_name}})
endforeach()
# Counted from the stream (NumFrames 0), served backwards by seeks to IDR and non-IDR I access
# units; the stream has no colour description.
list(SUBLIST _set_mvc_idr_periodic 1 2 _digests)
korvala_avs_test(mvc_idr_periodic_reverse reverse ${_media}/mvc/mvc_idr_periodic.base.h264
                 ${_media}/mvc/mvc_idr_periodic.dep.mvc 0 ${_digests} 2)
korvala_avs_test(avc_like_ffmpeg ffmpeg ${_media}/BA1_Sony_D.264)
# An error leaves the plugin as a C result, with the clip's own message.
korvala_avs_test(missing_file error ${CMAKE_CURRENT_BINARY_DIR}/absent.264 "Korvala: Can't open Source File")
# Every container form of two sets, counted, forward and in reverse, as the Linux tests do.
foreach(_name mvc_ibbp_cabac mvc_1080p)
  foreach(_form IN LISTS _forms)
    korvala_avs_test(${_name}_${_form} container ${_media}/containers/${_name} ${_name} ${_set_${_name}} ${_form_${_form}})
  endforeach()
endforeach()
# The same from folders whose names are not ASCII, the files named after them, given as ANSI
# (in a code page that holds the name) and as UTF-8 script strings: every form of a set, and its
# elementary pair. A missing file there still can't be opened.
set(_named ${_media}/mvc/mvc_ibbp_cabac.base.h264 ${_media}/mvc/mvc_ibbp_cabac.dep.mvc 0)
foreach(_form IN LISTS _forms)
  list(APPEND _named ${_form_${_form}})
endforeach()
foreach(_folder "latin;Brücke 3D;C.UTF-8" "japanese;立体テスト;ja_JP.UTF-8")
  list(GET _folder 0 _tag)
  list(GET _folder 1 _name)
  list(GET _folder 2 _ansi)
  korvala_avs_test(named_${_tag}_ansi in ${_name} ansi ${_ansi} container ${_media}/containers/mvc_ibbp_cabac
                   mvc_ibbp_cabac ${_set_mvc_ibbp_cabac} ${_named})
  korvala_avs_test(named_${_tag}_utf8 in ${_name} utf8 C.UTF-8 container ${_media}/containers/mvc_ibbp_cabac
                   mvc_ibbp_cabac ${_set_mvc_ibbp_cabac} ${_named})
endforeach()
korvala_avs_test(missing_named_file in 立体テスト utf8 C.UTF-8 error /absent.264 "Korvala: Can't open Source File")
# A file past 4 GiB, its frames beyond the mark.
korvala_avs_test(past_4gib past4gib ${_media}/mvc/mvc_ibbp_cabac.base.h264 ${_media}/mvc/mvc_ibbp_cabac.dep.mvc
                 ${_set_mvc_ibbp_cabac})
