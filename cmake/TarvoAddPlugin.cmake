# tarvo_add_plugin(<target> <sources>...)
#
# Builds a VST 2.4 plug-in library <target>.so (no "lib" prefix) in the top
# of the build tree from the effect's sources, the frame's entry point and
# Tarvo::Frame. The library exports the entry function as VSTPluginMain and
# main and nothing else, and links with --no-undefined so that a missing
# symbol fails the build instead of the host's load. The effect's own sources
# get the frame's floating-point and visibility rules through Tarvo::Frame.
#
# Whoever includes this file first says where the entry point and the export
# list lie: the repository's frame/ folder, or the installed package.
include_guard(GLOBAL)

function(tarvo_add_plugin target)
  if(NOT ARGN)
    message(FATAL_ERROR "tarvo_add_plugin(${target}): no sources given")
  endif()
  get_property(entryPoint GLOBAL PROPERTY TARVO_FRAME_ENTRY_POINT)
  get_property(exportsMap GLOBAL PROPERTY TARVO_FRAME_EXPORTS_MAP)
  add_library(${target} MODULE ${ARGN} ${entryPoint})
  target_link_libraries(${target} PRIVATE Tarvo::Frame)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    LINK_DEPENDS ${exportsMap})
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${exportsMap} -Wl,--no-undefined)
endfunction()
