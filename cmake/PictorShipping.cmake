# What the package ships, each binary declared once, in packaging/CMakeLists.txt:
#
#   pictor_ship_binary(<target> DESTINATION <dir> DESCRIPTION <text> [SYMBOLS])   (MinGW builds)
#     A binary built here. It gets the version resource (version, company, copyright), is
#     linked with lld, whose account of the files it took code from makes the third-party
#     notices (a file that is neither the project's own nor of a known Debian package fails
#     the build), and is installed stripped into <dir>. SYMBOLS: its PDB (for Windows
#     debuggers) and its DWARF debug file (for gdb, found through the binary's debug link)
#     go into pictor-<version>-<arch>-symbols.zip beside the package.
#
#   pictor_ship_prebuilt(<file> DESTINATION <dir> COMPONENT <name> NOTICES <file>...)
#     A file built elsewhere (a DLL or a model from an npm package), installed as it is; its
#     licence and notice files go into THIRD-PARTY-NOTICES.txt under <name>.
#
#   pictor_ship_built_archive(<archive> COMPONENT <name> NOTICES <file>...)
#     A static library built here from third-party sources (cmake/PictorThirdParty.cmake):
#     the notice of every binary that links it.
#
# pictor_write_shipping_rules() comes after the declarations: it makes the notices and the
# symbols zip (target pictor_shipping, built with `make package`).

set(PICTOR_SHIPPING_DIR ${CMAKE_BINARY_DIR}/shipping)
set(PICTOR_COPYRIGHT "Copyright (c) 2026 the Pictor authors")
file(MAKE_DIRECTORY ${PICTOR_SHIPPING_DIR}/bin ${PICTOR_SHIPPING_DIR}/symbols)

function(pictor_ship_binary target)
  cmake_parse_arguments(S "SYMBOLS" "DESTINATION;DESCRIPTION" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  set(PICTOR_RC_FILETYPE VFT_APP)
  if(type STREQUAL SHARED_LIBRARY)
    set(PICTOR_RC_FILETYPE VFT_DLL)
  endif()
  set(PICTOR_RC_DESCRIPTION "${S_DESCRIPTION}")
  set(PICTOR_RC_NAME $<TARGET_FILE_BASE_NAME:${target}>)
  set(PICTOR_RC_FILENAME $<TARGET_FILE_NAME:${target}>)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/PictorVersion.rc.in ${PICTOR_SHIPPING_DIR}/${target}.rc.in @ONLY)
  file(GENERATE OUTPUT ${PICTOR_SHIPPING_DIR}/${target}.rc INPUT ${PICTOR_SHIPPING_DIR}/${target}.rc.in)
  target_sources(${target} PRIVATE ${PICTOR_SHIPPING_DIR}/${target}.rc)

  set(shipped ${PICTOR_SHIPPING_DIR}/bin/$<TARGET_FILE_NAME:${target}>)
  if(MINGW)
    set(log ${PICTOR_SHIPPING_DIR}/${target}.link.log)
    set_target_properties(${target} PROPERTIES
      C_LINKER_LAUNCHER "${CMAKE_SOURCE_DIR}/cmake/pictor-link.sh;${log}"
      CXX_LINKER_LAUNCHER "${CMAKE_SOURCE_DIR}/cmake/pictor-link.sh;${log}")
    # The PDB's name alone goes into the binary's debug record, no build path.
    target_link_options(${target} PRIVATE -specs=${CMAKE_SOURCE_DIR}/cmake/lld.specs -Wl,--verbose
      -Wl,--pdb=${PICTOR_SHIPPING_DIR}/symbols/$<TARGET_FILE_BASE_NAME:${target}>.pdb -Wl,--Xlink=-pdbaltpath:%_PDB%)
    # The build tree keeps the linked binary, DWARF included, for its tests and gdb; the
    # package gets it stripped, with a debug link to its DWARF file.
    set(debug ${PICTOR_SHIPPING_DIR}/symbols/$<TARGET_FILE_NAME:${target}>.debug)
    set(stamp ${PICTOR_SHIPPING_DIR}/bin/${target}.stripped)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${PICTOR_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
      COMMAND ${PICTOR_OBJCOPY} --strip-all --add-gnu-debuglink=${debug} $<TARGET_FILE:${target}> ${shipped}
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${target}
      VERBATIM)
    set_property(GLOBAL APPEND PROPERTY PICTOR_SHIPPED_OUTPUTS ${stamp})
    set_property(GLOBAL APPEND PROPERTY PICTOR_SHIPPED_LINES "binary\t${S_DESTINATION}/$<TARGET_FILE_NAME:${target}>\t${log}")
    set_property(GLOBAL APPEND PROPERTY PICTOR_SHIPPED_TARGETS ${target})
    if(S_SYMBOLS)
      set_property(GLOBAL APPEND PROPERTY PICTOR_SYMBOL_FILES
        $<TARGET_FILE_BASE_NAME:${target}>.pdb $<TARGET_FILE_NAME:${target}>.debug)
    endif()
  else()
    set(shipped $<TARGET_FILE:${target}>)
  endif()
  install(PROGRAMS ${shipped} DESTINATION ${S_DESTINATION})
endfunction()

function(pictor_ship_prebuilt file)
  cmake_parse_arguments(S "" "DESTINATION;COMPONENT" "NOTICES" ${ARGN})
  get_filename_component(name ${file} NAME)
  list(JOIN S_NOTICES "\t" notices)
  set_property(GLOBAL APPEND PROPERTY PICTOR_SHIPPED_LINES "prebuilt\t${S_DESTINATION}/${name}\t${S_COMPONENT}\t${notices}")
  set_property(GLOBAL APPEND PROPERTY PICTOR_SHIPPED_FILES ${file} ${S_NOTICES})
  install(PROGRAMS ${file} DESTINATION ${S_DESTINATION})
endfunction()

function(pictor_ship_built_archive archive)
  cmake_parse_arguments(S "" "COMPONENT" "NOTICES" ${ARGN})
  list(JOIN S_NOTICES "\t" notices)
  set_property(GLOBAL APPEND PROPERTY PICTOR_SHIPPED_LINES "built\t${archive}\t${S_COMPONENT}\t${notices}")
endfunction()

# The targets of this source tree (not GoogleTest's, nor any other added from outside): the
# files of theirs that a link reads are the project's own code.
function(pictor_own_files dir var)
  set(lines ${${var}})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    string(FIND "${source_dir}/" "${CMAKE_SOURCE_DIR}/" at)
    if(NOT at EQUAL 0 OR NOT type MATCHES "LIBRARY|EXECUTABLE" OR type STREQUAL INTERFACE_LIBRARY)
      continue()
    endif()
    get_target_property(binary_dir ${target} BINARY_DIR)
    list(APPEND lines "own\t${binary_dir}/CMakeFiles/${target}.dir/")
    if(type STREQUAL STATIC_LIBRARY)
      list(APPEND lines "own\t$<TARGET_FILE:${target}>")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    pictor_own_files(${subdir} lines)
  endforeach()
  set(${var} ${lines} PARENT_SCOPE)
endfunction()

function(pictor_write_shipping_rules)
  if(NOT MINGW)
    return()
  endif()
  get_property(lines GLOBAL PROPERTY PICTOR_SHIPPED_LINES)
  get_property(targets GLOBAL PROPERTY PICTOR_SHIPPED_TARGETS)
  get_property(files GLOBAL PROPERTY PICTOR_SHIPPED_FILES)
  get_property(symbols GLOBAL PROPERTY PICTOR_SYMBOL_FILES)
  pictor_own_files(${CMAKE_SOURCE_DIR} lines)
  list(JOIN lines "\n" manifest)
  file(GENERATE OUTPUT ${PICTOR_SHIPPING_DIR}/manifest.txt CONTENT "${manifest}\n")

  set(notices ${PICTOR_SHIPPING_DIR}/THIRD-PARTY-NOTICES.txt)
  add_custom_command(OUTPUT ${notices}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/third-party-notices.sh ${PICTOR_SHIPPING_DIR}/manifest.txt ${notices}
    DEPENDS ${targets} ${files} ${PICTOR_SHIPPING_DIR}/manifest.txt ${CMAKE_SOURCE_DIR}/cmake/third-party-notices.sh
    VERBATIM)
  install(FILES ${notices} ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)

  get_property(outputs GLOBAL PROPERTY PICTOR_SHIPPED_OUTPUTS)
  set(zip ${PICTOR_SHIPPING_DIR}/pictor-${PROJECT_VERSION}-${PICTOR_ARCH}-symbols.zip)
  add_custom_command(OUTPUT ${zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${symbols}
    WORKING_DIRECTORY ${PICTOR_SHIPPING_DIR}/symbols
    DEPENDS ${targets} ${outputs}
    VERBATIM)
  add_custom_target(pictor_shipping ALL DEPENDS ${notices} ${zip} ${outputs})
endfunction()
