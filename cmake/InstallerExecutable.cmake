# Links an installer executable: the installer library, its entry point and the few runtime pieces
# it needs, no C runtime, and the resources of the given scripts (the common one with manifest,
# version block and icon is always added). The image imports only KERNEL32, ADVAPI32 and SHELL32.
#
#   add_installer_executable(<target> RESOURCE_SCRIPTS <rc>... [OUTPUT_NAME <name>])
set(BOOTSTRAP_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/..)

function(add_installer_executable target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "OUTPUT_NAME" "RESOURCE_SCRIPTS")
  # windres does not report what a script includes, so the common script names its files here.
  set_source_files_properties(${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.rc PROPERTIES OBJECT_DEPENDS
    "${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.manifest;${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.ico")
  add_executable(${target}
    ${BOOTSTRAP_SOURCE_DIR}/src/driver/program_entry.cpp
    ${BOOTSTRAP_SOURCE_DIR}/src/runtime/memory_functions.cpp
    ${BOOTSTRAP_SOURCE_DIR}/src/resources/installer.rc
    ${ARG_RESOURCE_SCRIPTS})
  target_link_libraries(${target} PRIVATE installer_core installer_compile_options)
  target_include_directories(${target} PRIVATE ${BOOTSTRAP_SOURCE_DIR}/src/resources)
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
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
    -Wl,--no-insert-timestamp
    -Wl,--file-alignment,4096
    -Wl,--gc-sections
    -Wl,-Map,$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map
    -s)
  # Only the three system libraries, and libgcc for the stack probe of large frames.
  target_link_libraries(${target} PRIVATE kernel32 advapi32 shell32 gcc)
endfunction()
