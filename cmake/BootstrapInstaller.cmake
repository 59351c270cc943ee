# Packages a product into an installer: the product archive and the setup program become payload
# resources of a new installer executable, in the shape the installer looks for at run time.
#
#   add_bootstrap_installer(<target> ARCHIVE <file> SETUP <file>
#                           [ARCHIVE_NAME <name>] [ARCHIVE_TYPE B7|BL|BN]
#                           [SETUP_FORM CABINET|PLAIN|PATCH] [SETUP_NAME <name>]
#                           [PREVIOUS_VERSION <text>] [OUTPUT_NAME <name>]
#                           [CERTIFICATE <file> KEY <file>])
#
# ARCHIVE is stored unchanged under ARCHIVE_NAME (default "DRELIX.PACKED.7Z") with resource type
# ARCHIVE_TYPE (default "B7", a 7z archive; "BL" and "BN" hand it to setup as uncompressed).
# SETUP_FORM says how the setup program travels:
#   CABINET (default)  compressed with gcab (MSZIP) into a cabinet holding "setup.exe", resource type
#                      "BL", named SETUP_NAME (default "SETUP.EX_"); expanded at run time.
#   PLAIN              stored as it is, resource type "BN" (default name "SETUP.EXE"); always
#                      written as "setup.exe" at run time.
#   PATCH              SETUP is a patch that the installed setup program turns into the new one;
#                      resource type "B7" under SETUP_NAME (default "SETUP.PATCH").
# PREVIOUS_VERSION becomes RCDATA resource 1, UTF-16 with its terminator.
# CERTIFICATE (PEM or DER, with its chain) and KEY (an unencrypted private key) sign the linked
# installer with osslsigncode (Authenticode, SHA-256). The signature covers the whole image, payload
# included.
# Relative ARCHIVE and SETUP paths are taken from the current source directory. Either may be made by
# the build itself: give the path of a custom command's output, or a generator expression such as
# $<TARGET_FILE:my_setup>.
#
# Everything the installer would refuse at run time is refused here instead: names are checked when
# the project is configured, empty files when the installer is built. The resource compiler stores
# names in upper case, so the files in the scratch directory get upper-case names.
#
# The payload data is copied once by the resource compiler and once by the linker, and never read
# into memory by this script, so a payload of hundreds of megabytes packages in seconds; the linker
# holds about twice the payload in memory.

# Run as a script by the build: refuses an empty or oversized payload file.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED BOOTSTRAP_PAYLOAD_FILE)
  if(NOT EXISTS "${BOOTSTRAP_PAYLOAD_FILE}")
    message(FATAL_ERROR "add_bootstrap_installer: ${BOOTSTRAP_PAYLOAD_ROLE} \"${BOOTSTRAP_PAYLOAD_FILE}\" does not exist")
  endif()
  file(SIZE "${BOOTSTRAP_PAYLOAD_FILE}" payload_size)
  if(payload_size EQUAL 0)
    message(FATAL_ERROR "add_bootstrap_installer: ${BOOTSTRAP_PAYLOAD_ROLE} \"${BOOTSTRAP_PAYLOAD_FILE}\" is empty; "
                        "the installer would treat it as missing and refuse to run")
  endif()
  # A resource size is 32 bits, and the whole image must stay below 4 GiB.
  if(payload_size GREATER_EQUAL 4000000000)
    message(FATAL_ERROR "add_bootstrap_installer: ${BOOTSTRAP_PAYLOAD_ROLE} \"${BOOTSTRAP_PAYLOAD_FILE}\" is too large "
                        "(${payload_size} bytes) for a resource of a Windows executable")
  endif()
  file(TOUCH "${BOOTSTRAP_PAYLOAD_STAMP}")
  return()
endif()

set(BOOTSTRAP_INSTALLER_SCRIPT ${CMAKE_CURRENT_LIST_FILE})
find_program(GCAB_EXECUTABLE gcab)
find_program(OSSLSIGNCODE_EXECUTABLE osslsigncode)

# The run-time rules for a payload resource name, and what the resource script can carry unquoted
# (windres joins adjacent quoted strings, so names are written bare).
function(_bootstrap_check_name role name prefix)
  string(LENGTH "${name}" length)
  if(length GREATER 259)
    message(FATAL_ERROR "add_bootstrap_installer: ${role} \"${name}\" is longer than 259 characters")
  endif()
  string(TOLOWER "${name}" lower_name)
  string(FIND "${lower_name}" "${prefix}" position)
  if(NOT position EQUAL 0)
    message(FATAL_ERROR "add_bootstrap_installer: ${role} \"${name}\" must begin with \"${prefix}\"")
  endif()
  # Windows drops a trailing dot from a file name, which would make "SETUP.EXE." name "setup.exe".
  if(NOT name MATCHES "^[A-Za-z0-9._+~-]+$" OR name MATCHES "\\.$")
    message(FATAL_ERROR "add_bootstrap_installer: ${role} \"${name}\" must be a plain file name made of "
                        "letters, digits and . _ + ~ -, not ending in a dot")
  endif()
endfunction()

function(add_bootstrap_installer target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG ""
    "ARCHIVE;SETUP;ARCHIVE_NAME;ARCHIVE_TYPE;SETUP_FORM;SETUP_NAME;PREVIOUS_VERSION;OUTPUT_NAME;CERTIFICATE;KEY" "")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_bootstrap_installer: unknown arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required ARCHIVE SETUP)
    if(NOT ARG_${required})
      message(FATAL_ERROR "add_bootstrap_installer(${target}): ${required} <file> is required")
    endif()
  endforeach()
  if(NOT ARG_ARCHIVE_NAME)
    set(ARG_ARCHIVE_NAME DRELIX.PACKED.7Z)
  endif()
  if(NOT ARG_ARCHIVE_TYPE)
    set(ARG_ARCHIVE_TYPE B7)
  endif()
  if(NOT ARG_SETUP_FORM)
    set(ARG_SETUP_FORM CABINET)
  endif()
  if(NOT ARG_ARCHIVE_TYPE MATCHES "^(B7|BL|BN)$")
    message(FATAL_ERROR "add_bootstrap_installer(${target}): ARCHIVE_TYPE must be B7, BL or BN, not \"${ARG_ARCHIVE_TYPE}\"")
  endif()
  if(ARG_SETUP_FORM STREQUAL "CABINET")
    set(setup_type BL)
    set(default_setup_name SETUP.EX_)
  elseif(ARG_SETUP_FORM STREQUAL "PLAIN")
    set(setup_type BN)
    set(default_setup_name SETUP.EXE)
  elseif(ARG_SETUP_FORM STREQUAL "PATCH")
    set(setup_type B7)
    set(default_setup_name SETUP.PATCH)
  else()
    message(FATAL_ERROR "add_bootstrap_installer(${target}): SETUP_FORM must be CABINET, PLAIN or PATCH, not \"${ARG_SETUP_FORM}\"")
  endif()
  if(NOT ARG_SETUP_NAME)
    set(ARG_SETUP_NAME ${default_setup_name})
  endif()

  _bootstrap_check_name("ARCHIVE_NAME" "${ARG_ARCHIVE_NAME}" "drelix")
  _bootstrap_check_name("SETUP_NAME" "${ARG_SETUP_NAME}" "setup")
  # A cabinet or a patch written as "setup.exe" would be the very file the run then creates from it.
  string(TOLOWER "${ARG_SETUP_NAME}" lower_setup_name)
  if(lower_setup_name STREQUAL "setup.exe" AND NOT ARG_SETUP_FORM STREQUAL "PLAIN")
    message(FATAL_ERROR "add_bootstrap_installer(${target}): a ${ARG_SETUP_FORM} setup cannot be named \"${ARG_SETUP_NAME}\": "
                        "that is the name the installer gives the setup program it makes from it")
  endif()
  if(DEFINED ARG_PREVIOUS_VERSION AND NOT ARG_PREVIOUS_VERSION MATCHES "^[A-Za-z0-9 ._+~-]*$")
    message(FATAL_ERROR "add_bootstrap_installer(${target}): PREVIOUS_VERSION \"${ARG_PREVIOUS_VERSION}\" may hold only "
                        "letters, digits, spaces and . _ + ~ -")
  endif()

  foreach(role IN ITEMS ARCHIVE SETUP)
    string(TOLOWER ${role} key)
    set(${key} "${ARG_${role}}")
    if(NOT ${key} MATCHES "^\\$<" AND NOT IS_ABSOLUTE "${${key}}")
      set(${key} "${CMAKE_CURRENT_SOURCE_DIR}/${${key}}")
    endif()
    if(${key} MATCHES "[\"\n]")
      message(FATAL_ERROR "add_bootstrap_installer(${target}): the ${key} path \"${${key}}\" cannot be named in a resource script")
    endif()
  endforeach()

  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}_payload)
  set(stamps)
  foreach(role IN ITEMS ARCHIVE SETUP)
    string(TOLOWER ${role} key)
    add_custom_command(
      OUTPUT ${work}/${key}.checked
      COMMAND ${CMAKE_COMMAND} -DBOOTSTRAP_PAYLOAD_ROLE=${role} -DBOOTSTRAP_PAYLOAD_FILE=${${key}}
              -DBOOTSTRAP_PAYLOAD_STAMP=${work}/${key}.checked -P ${BOOTSTRAP_INSTALLER_SCRIPT}
      DEPENDS ${${key}}
      COMMENT "Checking the ${key} of ${target}"
      VERBATIM)
    list(APPEND stamps ${work}/${key}.checked)
  endforeach()

  set(setup_resource ${setup})
  if(ARG_SETUP_FORM STREQUAL "CABINET")
    if(NOT GCAB_EXECUTABLE)
      message(FATAL_ERROR "add_bootstrap_installer(${target}): the CABINET form needs gcab (apt-get install gcab)")
    endif()
    # The cabinet's only file is always called "setup.exe", whatever the input file is called.
    set(setup_resource ${work}/${ARG_SETUP_NAME})
    add_custom_command(
      OUTPUT ${setup_resource}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${work}/cabinet
      COMMAND ${CMAKE_COMMAND} -E copy ${setup} ${work}/cabinet/setup.exe
      COMMAND ${GCAB_EXECUTABLE} --create --zip --nopath ${setup_resource} ${work}/cabinet/setup.exe
      DEPENDS ${setup} ${work}/setup.checked
      COMMENT "Compressing the setup program of ${target} into ${ARG_SETUP_NAME}"
      VERBATIM)
    list(APPEND stamps ${setup_resource})
  endif()

  set(script "// Payload of ${target}, made by add_bootstrap_installer, after the common resources.\n")
  string(APPEND script "#include \"installer.rc\"\n")
  string(APPEND script "LANGUAGE 9, 1  // English (United States), 1033\n")
  string(APPEND script "${ARG_ARCHIVE_NAME} ${ARG_ARCHIVE_TYPE} \"${archive}\"\n")
  string(APPEND script "${ARG_SETUP_NAME} ${setup_type} \"${setup_resource}\"\n")
  if(DEFINED ARG_PREVIOUS_VERSION)
    string(APPEND script "1 RCDATA { L\"${ARG_PREVIOUS_VERSION}\\0\" }\n")
  endif()
  file(GENERATE OUTPUT ${work}/payload.rc CONTENT "${script}")
  # The resource compiler reads the payload files, which the script names but no scanner sees; each
  # stamp is remade whenever its file changes.
  set_source_files_properties(${work}/payload.rc PROPERTIES GENERATED TRUE OBJECT_DEPENDS "${stamps}")

  if(ARG_OUTPUT_NAME)
    add_installer_executable(${target} RESOURCE_SCRIPTS ${work}/payload.rc OUTPUT_NAME ${ARG_OUTPUT_NAME})
  else()
    add_installer_executable(${target} RESOURCE_SCRIPTS ${work}/payload.rc)
  endif()
  # The payload script already holds the common resources, so the image gets one resource object:
  # when GNU ld merges two, it holds the payload in memory four times over instead of twice, and it
  # drops every resource, with only a warning, once a name is longer than 256 characters.
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources EXCLUDE REGEX "/installer\\.rc$")
  set_property(TARGET ${target} PROPERTY SOURCES ${sources})

  if(ARG_CERTIFICATE OR ARG_KEY)
    if(NOT ARG_CERTIFICATE OR NOT ARG_KEY)
      message(FATAL_ERROR "add_bootstrap_installer(${target}): signing needs both CERTIFICATE and KEY")
    endif()
    if(NOT OSSLSIGNCODE_EXECUTABLE)
      message(FATAL_ERROR "add_bootstrap_installer(${target}): signing needs osslsigncode (apt-get install osslsigncode)")
    endif()
    foreach(role IN ITEMS CERTIFICATE KEY)
      if(NOT IS_ABSOLUTE "${ARG_${role}}")
        set(ARG_${role} "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_${role}}")
      endif()
    endforeach()
    # Signed into a second file and renamed over the first, so a failed signing leaves no file that
    # looks signed; the link is redone on the next build.
    set(signed $<TARGET_FILE:${target}>.signed)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E rm -f ${signed}
      COMMAND ${OSSLSIGNCODE_EXECUTABLE} sign -certs ${ARG_CERTIFICATE} -key ${ARG_KEY} -h sha256
              -n "Drelix installer" -in $<TARGET_FILE:${target}> -out ${signed}
      COMMAND ${CMAKE_COMMAND} -E rename ${signed} $<TARGET_FILE:${target}>
      COMMENT "Signing ${target}"
      VERBATIM)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ARG_CERTIFICATE} ${ARG_KEY})
  endif()
endfunction()
