# What the C entry compiles and links against: AviSynth+'s avisynth_c.h (with its avs/ folder),
# copied into the build tree so that nothing else of AviSynth+'s include folder comes along,
# and an import library for the avs_* functions AviSynth.dll exports.
get_filename_component(_default "${KORVALA_SHARED_DIR}/avisynthplus-3.7.5/include/avisynth" ABSOLUTE)
set(KORVALA_AVISYNTH_C_INCLUDE_DIR "${_default}" CACHE PATH "Folder holding AviSynth+'s avisynth_c.h and avs/")
if(NOT EXISTS ${KORVALA_AVISYNTH_C_INCLUDE_DIR}/avisynth_c.h)
  message(WARNING "No avisynth_c.h in KORVALA_AVISYNTH_C_INCLUDE_DIR (${KORVALA_AVISYNTH_C_INCLUDE_DIR}): "
                  "Korvala.dll is not built. Name AviSynth+'s include folder (its FilterSDK/include).")
  return()
endif()
set(_inc ${CMAKE_BINARY_DIR}/avisynth_c/include)
file(COPY ${KORVALA_AVISYNTH_C_INCLUDE_DIR}/avisynth_c.h ${KORVALA_AVISYNTH_C_INCLUDE_DIR}/avs DESTINATION ${_inc})

find_program(KORVALA_DLLTOOL NAMES ${CMAKE_DLLTOOL} x86_64-w64-mingw32-dlltool REQUIRED)
set(_def ${CMAKE_CURRENT_LIST_DIR}/entry_c_avisynth.def)
set(_imports ${CMAKE_BINARY_DIR}/avisynth_c/libavisynth_imports.a)
add_custom_command(OUTPUT ${_imports}
  COMMAND ${KORVALA_DLLTOOL} --input-def ${_def} --dllname AviSynth.dll --output-lib ${_imports}
  DEPENDS ${_def} VERBATIM)
add_custom_target(korvala_avisynth_imports DEPENDS ${_imports})

add_library(korvala_avisynth_c INTERFACE)
target_include_directories(korvala_avisynth_c SYSTEM INTERFACE ${_inc})
target_link_libraries(korvala_avisynth_c INTERFACE ${_imports})
add_dependencies(korvala_avisynth_c korvala_avisynth_imports)
