# The Korvala plugin: one shared library exporting only AvisynthPluginInit3.
add_library(korvala SHARED entry.cpp clip.cpp frame_delivery.cpp module_dir.cpp)
korvala_strict(korvala)
target_link_libraries(korvala PRIVATE korvala_data avisynth_plugin_header korvala_mfx ${CMAKE_DL_LIBS})
set_target_properties(korvala PROPERTIES
  OUTPUT_NAME korvala
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugin)
if(WIN32)
  # Korvala.dll: the construction finds its own folder through the module named "Korvala".
  set_target_properties(korvala PROPERTIES PREFIX "" OUTPUT_NAME Korvala RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugin)
  install(TARGETS korvala RUNTIME DESTINATION plugins64+ LIBRARY DESTINATION plugins64+)
  return()
endif()
target_link_options(korvala PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
set_property(TARGET korvala APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)

# The Media SDK runtime files sit beside the plugin: the dispatcher's bare dlopen searches the
# DT_RPATH of its loading chain (a DT_RUNPATH would not count), so $ORIGIN must be an RPATH.
set_target_properties(korvala PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "\$ORIGIN")
target_link_options(korvala PRIVATE -Wl,--disable-new-dtags)
# AviSynth+ on Linux autoloads plugins from <prefix>/lib/avisynth.
install(TARGETS korvala LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/avisynth)
