# tarvo_add_plugin(<target> <sources>... [FORMATS VST2 LV2] [LV2_URI <uri>])
#
# Builds an effect in each format named (VST2 alone when none is named):
#
# VST2: a VST 2.4 plug-in library <target>.so (no "lib" prefix) in the top of
# the build tree from the effect's sources, the frame's entry point and
# Tarvo::Frame. The library exports the entry function as VSTPluginMain and
# main and nothing else, and links with --no-undefined so that a missing
# symbol fails the build instead of the host's load. The effect's own sources
# get the frame's floating-point and visibility rules through Tarvo::Frame.
#
# LV2: the bundle lv2/<target>.lv2/ in the top of the build tree, holding the
# binary <target>.so (target <target>_lv2: the same sources with the frame's
# LV2 adapter, exporting lv2_descriptor and the entry function),
# manifest.ttl, <target>.ttl and, for an effect with programs, presets.ttl.
# The .ttl files are generated after each link by loading the binary and
# asking the effect, so they never need editing. The plug-in's URI is
# LV2_URI, by default urn:tarvo:<target>. Without LV2's headers the LV2
# format is left out with a note. VST2 stays the default so that an effect
# outside this tree builds where LV2's headers are not installed.
#
# Whoever includes this file first says where the entry point, the export
# lists and the LV2 adapter lie: the repository's frame/ folder, or the
# installed package.
include_guard(GLOBAL)

function(_tarvo_link_as_plugin target exportsMap)
  target_link_libraries(${target} PRIVATE Tarvo::Frame)
  set_target_properties(${target} PROPERTIES PREFIX "" LINK_DEPENDS ${exportsMap})
  target_link_options(${target} PRIVATE -Wl,--version-script=${exportsMap} -Wl,--no-undefined)
endfunction()

function(_tarvo_add_lv2_bundle target uri)
  get_property(adapter GLOBAL PROPERTY TARVO_FRAME_LV2_ADAPTER)
  if(NOT adapter)
    message(STATUS "${target}: no LV2 bundle, LV2's headers were not found")
    return()
  endif()
  get_property(entryPoint GLOBAL PROPERTY TARVO_FRAME_ENTRY_POINT)
  get_property(exportsMap GLOBAL PROPERTY TARVO_FRAME_LV2_EXPORTS_MAP)
  get_property(includeDirs GLOBAL PROPERTY TARVO_FRAME_LV2_INCLUDE_DIRS)
  set(bundle ${CMAKE_BINARY_DIR}/lv2/${target}.lv2)
  set(uriSource ${CMAKE_CURRENT_BINARY_DIR}/${target}_lv2_uri.cpp)
  file(CONFIGURE OUTPUT ${uriSource}
       CONTENT "namespace tarvo::lv2 {\nextern const char kPluginUri[] = \"${uri}\";\n}\n")
  add_library(${target}_lv2 MODULE ${ARGN} ${entryPoint} ${adapter} ${uriSource})
  _tarvo_link_as_plugin(${target}_lv2 ${exportsMap})
  # Folders and definitions the effect's own CMake file gives the VST 2.4
  # target reach its LV2 twin too.
  target_include_directories(${target}_lv2 PRIVATE ${includeDirs}
    $<$<TARGET_EXISTS:${target}>:$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>>)
  target_compile_definitions(${target}_lv2 PRIVATE
    $<$<TARGET_EXISTS:${target}>:$<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>>)
  set_target_properties(${target}_lv2 PROPERTIES OUTPUT_NAME ${target} LIBRARY_OUTPUT_DIRECTORY ${bundle})
  # Generated again whenever the binary or the generator changes.
  add_custom_command(OUTPUT ${bundle}/manifest.ttl ${bundle}/${target}.ttl
    COMMAND Tarvo::LV2Turtle $<TARGET_FILE:${target}_lv2> ${bundle}
    DEPENDS ${target}_lv2 $<TARGET_FILE:Tarvo::LV2Turtle>
    COMMENT "Generating the LV2 description of ${target} in ${bundle}"
    VERBATIM)
  add_custom_target(${target}_lv2_ttl ALL DEPENDS ${bundle}/manifest.ttl ${bundle}/${target}.ttl)
  set_property(TARGET ${target}_lv2 PROPERTY TARVO_LV2_BUNDLE ${bundle})
  set_property(GLOBAL APPEND PROPERTY TARVO_LV2_BUNDLES ${bundle})
endfunction()

function(tarvo_add_plugin target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LV2_URI" "FORMATS")
  set(sources ${arg_UNPARSED_ARGUMENTS})
  if(NOT sources)
    message(FATAL_ERROR "tarvo_add_plugin(${target}): no sources given")
  endif()
  if(NOT arg_FORMATS)
    set(arg_FORMATS VST2)
  endif()
  foreach(format ${arg_FORMATS})
    if(NOT format MATCHES "^(VST2|LV2)$")
      message(FATAL_ERROR "tarvo_add_plugin(${target}): unknown format ${format} (VST2 or LV2)")
    endif()
  endforeach()
  if(NOT arg_LV2_URI)
    set(arg_LV2_URI "urn:tarvo:${target}")
  endif()

  if(VST2 IN_LIST arg_FORMATS)
    get_property(entryPoint GLOBAL PROPERTY TARVO_FRAME_ENTRY_POINT)
    get_property(exportsMap GLOBAL PROPERTY TARVO_FRAME_EXPORTS_MAP)
    add_library(${target} MODULE ${sources} ${entryPoint})
    _tarvo_link_as_plugin(${target} ${exportsMap})
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  if(LV2 IN_LIST arg_FORMATS)
    _tarvo_add_lv2_bundle(${target} ${arg_LV2_URI} ${sources})
  endif()
endfunction()

# tarvo_install_plugin(<target> [VST2_DESTINATION <dir>] [LV2_DESTINATION <dir>])
#
# Installs what tarvo_add_plugin built: <target>.so into VST2_DESTINATION
# (default lib/vst) and the bundle <target>.lv2 into LV2_DESTINATION (default
# lib/lv2), where hosts look for each format below the prefixes /usr and
# /usr/local. Plug-in binaries are installed without the executable bit.
function(tarvo_install_plugin target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "VST2_DESTINATION;LV2_DESTINATION" "")
  if(NOT arg_VST2_DESTINATION)
    set(arg_VST2_DESTINATION lib/vst)
  endif()
  if(NOT arg_LV2_DESTINATION)
    set(arg_LV2_DESTINATION lib/lv2)
  endif()
  set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(TARGET ${target})
    install(TARGETS ${target} LIBRARY DESTINATION ${arg_VST2_DESTINATION} PERMISSIONS ${readable})
  endif()
  if(TARGET ${target}_lv2)
    get_property(bundle TARGET ${target}_lv2 PROPERTY TARVO_LV2_BUNDLE)
    install(TARGETS ${target}_lv2 LIBRARY DESTINATION ${arg_LV2_DESTINATION}/${target}.lv2 PERMISSIONS ${readable})
    install(DIRECTORY ${bundle} DESTINATION ${arg_LV2_DESTINATION} FILE_PERMISSIONS ${readable}
            FILES_MATCHING PATTERN "*.ttl")
  endif()
endfunction()
