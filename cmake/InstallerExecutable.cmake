# Links an installer executable with lld: the installer library, its entry point and the runtime
# support of src/runtime/ (load configuration, Control Flow Guard pointers, stack cookie, stack
# probe, memory functions), no C runtime and no libgcc, and the resources of the given scripts (the
# common one with manifest, version block and icon is always added). The image imports only
# KERNEL32, ADVAPI32 and SHELL32, and carries the hardening of installer_image_options.
#
#   add_installer_executable(<target> [RESOURCE_SCRIPTS <rc>...] [OUTPUT_NAME <name>]
#                            [ENTRY_SOURCE <cpp>])
#
# ENTRY_SOURCE replaces src/driver/program_entry.cpp: a test program linked exactly as an installer,
# with an entry point (ProgramEntry) of its own.
set(BOOTSTRAP_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/..)

# The build identity every installer carries (src/conventions/build_identity.h): the build's
# version and source commit, rewritten only when they change, so a new commit relinks the
# installers and nothing else.
include(${CMAKE_CURRENT_LIST_DIR}/SourceVersion.cmake)
set(BUILD_IDENTITY_DIRECTORY ${CMAKE_BINARY_DIR}/build_identity)
file(CONFIGURE OUTPUT ${BUILD_IDENTITY_DIRECTORY}/build_identity_text.h
  CONTENT "#define DRELIX_BUILD_IDENTITY_TEXT L\"${DRELIX_VERSION} ${DRELIX_SOURCE_COMMIT}\\0\"\n")

# Symbols. Code of ours is compiled with CodeView debug information, which changes no instruction
# of an image; write_program_database(<target>) links the target's into <name>.pdb beside it, named
# in the image without its folder, as a symbol server looks it up. No path of the machine that
# built it reaches the image or the PDB: the source and build trees are mapped to fixed roots,
# clang leaves its command line out, and the linker is given paths inside the build tree only.
set(PROGRAM_DATABASE_SOURCE_ROOT /drelix/source)
set(PROGRAM_DATABASE_BUILD_ROOT /drelix/build)
get_filename_component(source_tree ${BOOTSTRAP_SOURCE_DIR} ABSOLUTE)
add_library(program_database_options INTERFACE)
target_compile_options(program_database_options INTERFACE
  -g -gcodeview -gno-codeview-command-line -fdebug-compilation-dir=.
  -ffile-prefix-map=${source_tree}=${PROGRAM_DATABASE_SOURCE_ROOT}
  -ffile-prefix-map=${CMAKE_BINARY_DIR}=${PROGRAM_DATABASE_BUILD_ROOT})

#
#   write_program_database(<target> [NAME <name>])
#
# NAME is the PDB's name as the image records it (default: the target's file name); the file itself
# is always <target's file name>.pdb, so a second link of the same inputs can record the same name.
function(write_program_database target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "NAME" "")
  set(name $<TARGET_FILE_BASE_NAME:${target}>)
  if(ARG_NAME)
    set(name ${ARG_NAME})
  endif()
  set(database $<PATH:RELATIVE_PATH,$<TARGET_FILE_DIR:${target}>,${CMAKE_BINARY_DIR}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb)
  target_link_options(${target} PRIVATE -Wl,--pdb=${database} -Wl,--Xlink=-pdbaltpath:${name}.pdb
    -Wl,--Xlink=-pdbsourcepath:${PROGRAM_DATABASE_BUILD_ROOT})
endfunction()

function(add_installer_executable target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "OUTPUT_NAME;ENTRY_SOURCE" "RESOURCE_SCRIPTS")
  if(NOT ARG_ENTRY_SOURCE)
    set(ARG_ENTRY_SOURCE ${BOOTSTRAP_SOURCE_DIR}/src/driver/program_entry.cpp)
  endif()
  # windres does not report what a script includes, so the common script names its files here.
  set_source_files_properties(${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.rc PROPERTIES OBJECT_DEPENDS
    "${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.manifest;${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.ico;${BOOTSTRAP_SOURCE_DIR}/src/conventions/build_identity.h;${BUILD_IDENTITY_DIRECTORY}/build_identity_text.h")
  add_executable(${target}
    ${ARG_ENTRY_SOURCE}
    ${BOOTSTRAP_SOURCE_DIR}/src/runtime/memory_functions.cpp
    ${BOOTSTRAP_SOURCE_DIR}/src/runtime/stack_probe.cpp
    ${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.rc
    ${ARG_RESOURCE_SCRIPTS})
  target_link_libraries(${target} PRIVATE installer_core installer_compile_options installer_image_options)
  # The memory functions are the ones the compiler calls: it must not turn their loops into calls.
  set_source_files_properties(${BOOTSTRAP_SOURCE_DIR}/src/runtime/memory_functions.cpp PROPERTIES COMPILE_OPTIONS -fno-builtin)
  target_include_directories(${target} PRIVATE ${BOOTSTRAP_SOURCE_DIR}/src/resources ${BOOTSTRAP_SOURCE_DIR}/src
                                                ${BUILD_IDENTITY_DIRECTORY})
  # Linked through the C driver, so not even the C++ standard libraries (and winpthreads beneath
  # them) appear on the link line of an image that has no C runtime.
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  if(ARG_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  # A 4096-byte file alignment lets the loader map the resource section straight from the file;
  # with the default 512 bytes Wine copies the whole payload into private memory at load.
  target_link_options(${target} PRIVATE
    -nostdlib
    -Wl,--entry=ProgramEntry
    -Wl,--subsystem,windows:10.0
    -Wl,--major-os-version,10 -Wl,--minor-os-version,0
    -Wl,--file-alignment,4096
    -Wl,--gc-sections
    -Wl,-Map,$<PATH:RELATIVE_PATH,$<TARGET_FILE_DIR:${target}>,${CMAKE_BINARY_DIR}>/$<TARGET_FILE_BASE_NAME:${target}>.map
    -s)
  # Only the three system libraries.
  target_link_libraries(${target} PRIVATE kernel32 advapi32 shell32)
endfunction()
