# Where the platforms differ in how a plug-in library is built and laid out.

set(KORRAND_PLUGIN_DIR "${CMAKE_BINARY_DIR}/plugins/KorrandModifier")
if(WIN32)
  set(KORRAND_PLUGIN_SUFFIX ".cdl64")
elseif(APPLE)
  set(KORRAND_PLUGIN_SUFFIX ".dylib")
else()
  set(KORRAND_PLUGIN_SUFFIX ".so")
endif()

if(APPLE)
  # The plug-in is a dynamic library (MH_DYLIB), as its name says, not the bundle CMake makes of
  # a module; the host loads it by its path, so its install name carries no build folder.
  string(REPLACE "-bundle" "-dynamiclib" CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS
    "${CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS}")
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
    target_link_options(${target} PRIVATE -Wl,-exported_symbol,_c4d_main
      "-Wl,-install_name,@rpath/${target}${KORRAND_PLUGIN_SUFFIX}")
  else()
    target_link_options(${target} PRIVATE
      "-Wl,--version-script=${CMAKE_SOURCE_DIR}/source/exports.map" -Wl,--no-undefined)
  endif()
  # The resources are copied whenever one of them changes, not only when the library links:
  # a description edited alone must reach the folder the hosts load.
  file(GLOB_RECURSE _korrand_res CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/res/*")
  set(_korrand_res_stamp "${CMAKE_BINARY_DIR}/${target}_res.stamp")
  add_custom_command(OUTPUT "${_korrand_res_stamp}"
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/res" "${KORRAND_PLUGIN_DIR}/res"
    COMMAND ${CMAKE_COMMAND} -E touch "${_korrand_res_stamp}"
    DEPENDS ${_korrand_res}
    COMMENT "Laying out the plug-in folder's resources")
  add_custom_target(${target}_res ALL DEPENDS "${_korrand_res_stamp}")
  add_dependencies(${target} ${target}_res)
  install(TARGETS ${target} LIBRARY DESTINATION plugins/KorrandModifier
                            RUNTIME DESTINATION plugins/KorrandModifier)
  install(DIRECTORY "${CMAKE_SOURCE_DIR}/res/" DESTINATION plugins/KorrandModifier/res
    PATTERN "*.py" EXCLUDE)
endfunction()

# --- Header-only libraries of the build machine, for a cross build ------------------------------
# An imported target for a header-only library under /usr/include (header names a file that
# must be there, package the Debian package that brings it). The build reaches it through a
# folder holding only links to such libraries: adding /usr/include itself would put the build
# machine's C library headers ahead of the target's.
function(korrand_header_only_target target header package)
  if(NOT EXISTS "/usr/include/${header}")
    message(FATAL_ERROR "/usr/include/${header} not found: install ${package}")
  endif()
  set(folder "${CMAKE_BINARY_DIR}/host-headers")
  string(REGEX REPLACE "/.*" "" top "${header}")
  file(MAKE_DIRECTORY "${folder}")
  if(NOT EXISTS "${folder}/${top}")
    file(CREATE_LINK "/usr/include/${top}" "${folder}/${top}" SYMBOLIC)
  endif()
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${folder}")
  endif()
endfunction()

# --- The host model's dependencies -------------------------------------------------------------
# Sets KORRAND_MODEL_LIBTIFF (read TIFF through libtiff, else through the model's built-in
# reader of uncompressed baseline TIFF) and provides nlohmann_json::nlohmann_json.
macro(korrand_find_model_dependencies)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    # Debian packages neither library for MinGW. nlohmann_json is header-only: the build uses
    # the system's copy (korrand_header_only_target below).
    find_package(TIFF QUIET)
    find_package(nlohmann_json 3 QUIET)
    if(NOT nlohmann_json_FOUND)
      korrand_header_only_target(nlohmann_json::nlohmann_json nlohmann/json.hpp
        nlohmann-json3-dev)
    endif()
  else()
    find_package(TIFF REQUIRED)
    find_package(nlohmann_json 3 REQUIRED)
  endif()
  option(KORRAND_MODEL_LIBTIFF "Host model reads TIFF through libtiff (else: built-in reader)"
    ${TIFF_FOUND})
  if(KORRAND_MODEL_LIBTIFF AND NOT TIFF_FOUND)
    message(FATAL_ERROR "KORRAND_MODEL_LIBTIFF is ON but libtiff was not found")
  endif()
endmacro()

# --- Windows ----------------------------------------------------------------------------------
if(WIN32)
  # Executables carry the compiler's runtime inside, as the plug-in library does: nothing but
  # system DLLs is imported, so they run as they are (under Wine too).
  target_link_options(korrand_options INTERFACE -static-libgcc -static-libstdc++ -static)
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING AND KORRAND_BUILD_CLI)
  # korrand for Windows: libxml2 built for MinGW from Debian's source (scripts/windows.sh builds
  # it, against zlib for MinGW from Debian's libz-mingw-w64-dev) under KORRAND_WINDOWS_DEPS; the
  # header-only libraries are the build machine's.
  set(KORRAND_WINDOWS_DEPS "" CACHE PATH "Prefix holding libxml2 built for Windows x64")
  if(KORRAND_WINDOWS_DEPS)
    list(APPEND CMAKE_FIND_ROOT_PATH "${KORRAND_WINDOWS_DEPS}")
  endif()
  set(ZLIB_USE_STATIC_LIBS ON)  # korrand.exe carries everything but system DLLs
  find_package(LibXml2 CONFIG QUIET)  # libxml2's own CMake file: a static library, its needs
  if(NOT TARGET LibXml2::LibXml2)
    message(FATAL_ERROR "libxml2 for Windows not found under KORRAND_WINDOWS_DEPS "
      "('${KORRAND_WINDOWS_DEPS}'): scripts/windows.sh builds it, or configure with "
      "-DKORRAND_BUILD_CLI=OFF")
  endif()
  korrand_header_only_target(Boost::headers boost/version.hpp libboost-dev)
  korrand_header_only_target(Boost::headers svgpp/svgpp.hpp libsvgpp-dev)
  korrand_header_only_target(Boost::headers exboost/parameter.hpp libsvgpp-dev)
  korrand_header_only_target(CLI11::CLI11 CLI/CLI.hpp libcli11-dev)
  set(Boost_INCLUDE_DIRS "")  # Boost::headers carries the folder
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING)
  # Cross-built test executables run under Wine, in a prefix of their own in the build tree.
  find_program(KORRAND_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  set(KORRAND_WINEPREFIX "${CMAKE_BINARY_DIR}/wine" CACHE PATH "Wine prefix for the Windows tests")
  if(KORRAND_WINE64)
    set(KORRAND_WINE_ENV WINEPREFIX=${KORRAND_WINEPREFIX} WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml=)
    set(CMAKE_CROSSCOMPILING_EMULATOR env ${KORRAND_WINE_ENV} ${KORRAND_WINE64})
    list(JOIN KORRAND_WINE_ENV "' '" _korrand_wine_env)
    # The prefix is made once, before the first test executable is run (test discovery runs
    # them at build time).
    add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/wine.stamp"
      COMMAND sh -c "env '${_korrand_wine_env}' '${KORRAND_WINE64}' wineboot -i >wineboot.log 2>&1"
      COMMAND ${CMAKE_COMMAND} -E touch "${CMAKE_BINARY_DIR}/wine.stamp"
      WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
      COMMENT "Making the Wine prefix ${KORRAND_WINEPREFIX}" VERBATIM)
    add_custom_target(korrand_wine_prefix DEPENDS "${CMAKE_BINARY_DIR}/wine.stamp")
    # Every executable of the project waits for it; run once all directories are read.
    function(korrand_executables_need_wine_prefix dir)
      get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
      foreach(t IN LISTS targets)
        get_target_property(type ${t} TYPE)
        if(type STREQUAL "EXECUTABLE")
          add_dependencies(${t} korrand_wine_prefix)
        endif()
      endforeach()
      get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
      foreach(d IN LISTS subdirs)
        korrand_executables_need_wine_prefix("${d}")
      endforeach()
    endfunction()
    cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}"
      CALL korrand_executables_need_wine_prefix "${CMAKE_SOURCE_DIR}")
  else()
    message(WARNING "wine64 not found: the Windows test executables build but cannot run here")
  endif()
endif()
