# Where the platforms differ in how a plug-in library is built and laid out.

set(KORRAND_PLUGIN_DIR "${CMAKE_BINARY_DIR}/plugins/KorrandModifier")
if(WIN32)
  set(KORRAND_PLUGIN_SUFFIX ".cdl64")
elseif(APPLE)
  set(KORRAND_PLUGIN_SUFFIX ".dylib")
else()
  set(KORRAND_PLUGIN_SUFFIX ".so")
endif()

# Builds target as the plug-in library: host-style file name inside the plug-in folder, only
# c4d_main exported, resources copied beside it.
function(korrand_plugin_library target)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    SUFFIX "${KORRAND_PLUGIN_SUFFIX}"
    LIBRARY_OUTPUT_DIRECTORY "${KORRAND_PLUGIN_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${KORRAND_PLUGIN_DIR}"
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static
      "${CMAKE_SOURCE_DIR}/source/exports.def")
  elseif(APPLE)
    target_link_options(${target} PRIVATE -Wl,-exported_symbol,_c4d_main)
  else()
    target_link_options(${target} PRIVATE
      "-Wl,--version-script=${CMAKE_SOURCE_DIR}/source/exports.map" -Wl,--no-undefined)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/res" "${KORRAND_PLUGIN_DIR}/res"
    COMMENT "Laying out the plug-in folder")
  install(TARGETS ${target} LIBRARY DESTINATION plugins/KorrandModifier
                            RUNTIME DESTINATION plugins/KorrandModifier)
  install(DIRECTORY "${CMAKE_SOURCE_DIR}/res/" DESTINATION plugins/KorrandModifier/res
    PATTERN "*.py" EXCLUDE)
endfunction()
