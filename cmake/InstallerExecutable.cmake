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
    -Wl,-Map,$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map
    -s)
  # Only the three system libraries.
  target_link_libraries(${target} PRIVATE kernel32 advapi32 shell32)
endfunction()
