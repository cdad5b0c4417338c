# The Korvala plugin: one shared library exporting AvisynthPluginInit3, built against the
# AviSynth header that the interface target `header` provides, and VapourSynthPluginInit2. Tests
# build it a second time against AviSynth+'s own header. With C_ENTRY it exports AviSynth+'s
# C-interface entries instead of AvisynthPluginInit3 (the MinGW build's Korvala.dll; needs the
# target korvala_avisynth_c).
#
# The VapourSynth entry is built against VapourSynth's own API 4 header, VapourSynth4.h: a
# development package's, else the one in ../shared/vapoursynth-R65. Without it the library has
# only its AviSynth+ entries.
set(KORVALA_VAPOURSYNTH_INCLUDE_DIR "" CACHE PATH "Folder holding VapourSynth4.h (default: ../shared/vapoursynth-R65's, else /usr/include/vapoursynth)")
set(_vs_include "${KORVALA_VAPOURSYNTH_INCLUDE_DIR}")
if(NOT _vs_include)
  foreach(_candidate "${KORVALA_SHARED_DIR}/vapoursynth-R65/include/vapoursynth" /usr/include/vapoursynth)
    if(EXISTS "${_candidate}/VapourSynth4.h" AND NOT _vs_include)
      set(_vs_include "${_candidate}")
    endif()
  endforeach()
endif()
if(_vs_include AND EXISTS "${_vs_include}/VapourSynth4.h")
  set(KORVALA_VAPOURSYNTH_ENTRY_INCLUDE "${_vs_include}" CACHE INTERNAL "")
else()
  message(STATUS "No VapourSynth4.h: the plugin is built without its VapourSynth entry")
  set(KORVALA_VAPOURSYNTH_ENTRY_INCLUDE "" CACHE INTERNAL "")
endif()

get_filename_component(KORVALA_PLUGIN_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(KORVALA_PLUGIN_SOURCE_DIR ${KORVALA_PLUGIN_SOURCE_DIR} CACHE INTERNAL "")
function(korvala_plugin_library name header)
  set(dir ${KORVALA_PLUGIN_SOURCE_DIR})
  if(ARGN STREQUAL "C_ENTRY")
    set(entry ${dir}/hosts/entry_c.cpp)
    set(entry_libs korvala_avisynth_c)
  else()
    set(entry ${dir}/hosts/entry.cpp ${dir}/hosts/avisynth_clip.cpp ${dir}/hosts/avisynth_frame.cpp)
    set(entry_libs "")
  endif()
  add_library(${name} SHARED ${entry})
  korvala_strict(${name})
  target_link_libraries(${name} PRIVATE korvala_core ${header} ${entry_libs})
  if(KORVALA_VAPOURSYNTH_ENTRY_INCLUDE)
    target_sources(${name} PRIVATE ${dir}/hosts/vapoursynth_entry.cpp)
    target_include_directories(${name} SYSTEM PRIVATE ${KORVALA_VAPOURSYNTH_ENTRY_INCLUDE})
  endif()
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugin)
  if(WIN32)
    return()
  endif()
  target_link_options(${name} PRIVATE -Wl,--version-script=${dir}/hosts/exports.map)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${dir}/hosts/exports.map)
  # The Media SDK runtime files sit beside the plugin: the dispatcher's bare dlopen searches the
  # DT_RPATH of its loading chain (a DT_RUNPATH would not count), so $ORIGIN must be an RPATH.
  set_target_properties(${name} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "\$ORIGIN")
  target_link_options(${name} PRIVATE -Wl,--disable-new-dtags)
  # libavformat pulls in libraries that keep process-wide state from their first use; unloaded
  # with the plugin they would leave it behind, and be set up again at the next load.
  target_link_options(${name} PRIVATE -Wl,-z,nodelete)
endfunction()

if(MINGW)
  # The compiler-neutral C entry, so that an MSVC-built AviSynth+ loads the GCC-built DLL.
  include(${CMAKE_CURRENT_LIST_DIR}/entry_c.cmake)
  if(NOT TARGET korvala_avisynth_c)
    return()
  endif()
  korvala_plugin_library(korvala avisynth_header C_ENTRY)
else()
  korvala_plugin_library(korvala avisynth_plugin_header)
endif()
if(WIN32)
  # Korvala.dll: the construction finds its own folder through the module named "Korvala".
  set_target_properties(korvala PROPERTIES PREFIX "" OUTPUT_NAME Korvala RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugin)
  install(TARGETS korvala RUNTIME DESTINATION plugins64+ LIBRARY DESTINATION plugins64+)
  return()
endif()
# AviSynth+ on Linux autoloads plugins from <prefix>/lib/avisynth.
install(TARGETS korvala LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/avisynth)
