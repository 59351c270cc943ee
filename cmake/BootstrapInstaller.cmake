# Packages a product into an installer with drelix-pack, so a build and a product team that packs by
# hand make the same bytes from the same inputs. DRELIX_PACK_EXECUTABLE names the tool: in this tree
# its native build, carrying the freshly built installer without payload; in another project the
# drelix-pack installed with this file (find_package(DrelixBootstrap CONFIG REQUIRED) sets it).
#
#   add_bootstrap_installer(<target> ARCHIVE <file> SETUP <file>
#                           [ARCHIVE_NAME <name>] [ARCHIVE_TYPE B7|BL|BN]
#                           [SETUP_FORM CABINET|PLAIN|PATCH] [SETUP_NAME <name>]
#                           [PREVIOUS_VERSION <text>] [OUTPUT_NAME <name>]
#                           [ICON <file.ico>] [PRODUCT_NAME <text>] [COMPANY_NAME <text>]
#                           [FILE_DESCRIPTION <text>] [COPYRIGHT <text>]
#                           [PRODUCT_VERSION <n.n.n.n>] [FILE_VERSION <n.n.n.n>]
#                           [ORIGINAL_FILENAME <name>] [STUB <file>]
#                           [CERTIFICATE <file> KEY <file> | PKCS12 <file>]
#                           [PASSWORD_FILE <file>] [TIMESTAMP_URL <url>] [SBOM <file>])
#
# The installer is <runtime output directory>/<OUTPUT_NAME or target>.exe, made by the custom target
# <target>. ARCHIVE is stored unchanged under ARCHIVE_NAME (default "DRELIX.PACKED.7Z") with
# resource type ARCHIVE_TYPE (default "B7", a 7z archive; "BL" and "BN" hand it to setup as
# uncompressed). SETUP_FORM says how the setup program travels:
#   CABINET (default)  compressed (MSZIP) into a cabinet holding "setup.exe", resource type "BL",
#                      named SETUP_NAME (default "SETUP.EX_"); expanded at run time.
#   PLAIN              stored as it is, resource type "BN" (default name "SETUP.EXE"); always
#                      written as "setup.exe" at run time.
#   PATCH              SETUP is a patch that the installed setup program turns into the new one;
#                      resource type "B7" under SETUP_NAME (default "SETUP.PATCH").
# PREVIOUS_VERSION becomes RCDATA resource 1, UTF-16 with its terminator.
# ICON replaces the installer's icon with every image of the .ico file; PRODUCT_NAME, COMPANY_NAME,
# FILE_DESCRIPTION, COPYRIGHT, PRODUCT_VERSION and FILE_VERSION set the version block's fields (the
# versions: up to four numbers for the fixed part, the text as given for the string), and
# ORIGINAL_FILENAME its OriginalFilename (default: the installer's file name). What is not given
# keeps the installer's own. Each text reaches drelix-pack as one argument, as given: semicolons,
# quotes, a leading "--" and "$<" included.
# STUB packs into another installer without payload instead of the one drelix-pack carries.
# CERTIFICATE (PEM or DER, with its chain) and KEY (a private key), or PKCS12 (certificate, chain
# and key in one file), sign the packed installer with osslsigncode (Authenticode, SHA-256); the
# signature covers the whole image, payload included, and its description, the name Windows shows
# when it asks whether to run the installer, is PRODUCT_NAME ("Drelix installer" without one).
# PASSWORD_FILE names a file holding the passphrase of an encrypted KEY or of the PKCS12 file, so
# the passphrase stays out of the build files. TIMESTAMP_URL has an RFC 3161 time-stamping
# authority countersign the signature, which keeps it valid after the certificate expires.
# SBOM writes the installer's CycloneDX SBOM (docs/sbom.md) to <file> (relative to the installer's
# folder); a signed installer's is made after signing, so its hashes are those of the signed file.
# Relative ARCHIVE and SETUP paths are taken from the current source directory. Either may be made by
# the build itself: give the path of a custom command's output, or a generator expression such as
# $<TARGET_FILE:my_setup>.
#
# drelix-pack refuses, when the installer is built, everything the installer would refuse at run
# time (names, types, forms, empty files, a payload too large for an image), with a message that
# says why; this function refuses only what is wrong with the call itself.
#
#   bootstrap_installer_keywords(<file keywords variable> <value keywords variable>)
#
# Sets the two variables to add_bootstrap_installer's keywords: those naming a file, and those
# taking a value as it is. A build that forwards settings of its own to the function takes their
# names from here, so a new keyword reaches it too.

find_program(OSSLSIGNCODE_EXECUTABLE osslsigncode)

# The keywords of the vendor's texts, from drelix-pack's own rows (packager/pack/vendor_text_fields.inc,
# installed beside this file): each option in upper case with "_" for "-".
function(_bootstrap_installer_vendor_texts variable)
  set(fields ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/vendor_text_fields.inc)
  if(NOT EXISTS ${fields})
    set(fields ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../packager/pack/vendor_text_fields.inc)
  endif()
  # A new row configures again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${fields})
  file(STRINGS ${fields} rows REGEX "^VENDOR_TEXT_FIELD\\(\"[a-z-]+\"")
  set(vendor_texts)
  foreach(row IN LISTS rows)
    if(row MATCHES "^VENDOR_TEXT_FIELD\\(\"([a-z-]+)\"")
      string(TOUPPER ${CMAKE_MATCH_1} keyword)
      string(REPLACE "-" "_" keyword ${keyword})
      list(APPEND vendor_texts ${keyword})
    endif()
  endforeach()
  if(NOT vendor_texts)
    message(FATAL_ERROR "add_bootstrap_installer: no vendor texts in ${fields}")
  endif()
  set(${variable} ${vendor_texts} PARENT_SCOPE)
endfunction()

function(bootstrap_installer_keywords file_keywords value_keywords)
  _bootstrap_installer_vendor_texts(vendor_texts)
  set(${file_keywords} ARCHIVE SETUP CERTIFICATE KEY PKCS12 PASSWORD_FILE ICON STUB PARENT_SCOPE)
  set(${value_keywords} ARCHIVE_NAME ARCHIVE_TYPE SETUP_FORM SETUP_NAME PREVIOUS_VERSION OUTPUT_NAME SBOM ${vendor_texts}
      TIMESTAMP_URL PARENT_SCOPE)
endfunction()

# A text as one element of a custom command: a semicolon would split it into arguments, "$<" would
# start a generator expression, and a backslash at its end would join it to the next argument; each
# is written as an expression that gives the character.
function(_bootstrap_installer_text variable text)
  string(REPLACE "$<" "$<1:$><" text "${text}")
  string(REPLACE "\\" "$<1:\\>" text "${text}")
  string(REPLACE ";" "$<SEMICOLON>" text "${text}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

function(add_bootstrap_installer target)
  bootstrap_installer_keywords(file_keywords value_keywords)
  _bootstrap_installer_vendor_texts(vendor_texts)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "${file_keywords};${value_keywords}" "")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_bootstrap_installer: unknown arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required ARCHIVE SETUP)
    if(NOT ARG_${required})
      message(FATAL_ERROR "add_bootstrap_installer(${target}): ${required} <file> is required")
    endif()
  endforeach()
  if(ARG_CERTIFICATE OR ARG_KEY OR ARG_PKCS12)
    if(ARG_PKCS12 AND (ARG_CERTIFICATE OR ARG_KEY))
      message(FATAL_ERROR "add_bootstrap_installer(${target}): sign with CERTIFICATE and KEY or with PKCS12, not both")
    endif()
    if(NOT ARG_PKCS12 AND (NOT ARG_CERTIFICATE OR NOT ARG_KEY))
      message(FATAL_ERROR "add_bootstrap_installer(${target}): signing needs both CERTIFICATE and KEY")
    endif()
    if(NOT OSSLSIGNCODE_EXECUTABLE)
      message(FATAL_ERROR "add_bootstrap_installer(${target}): signing needs osslsigncode (apt-get install osslsigncode)")
    endif()
  elseif(ARG_PASSWORD_FILE OR ARG_TIMESTAMP_URL)
    message(FATAL_ERROR "add_bootstrap_installer(${target}): PASSWORD_FILE and TIMESTAMP_URL need CERTIFICATE and KEY or PKCS12")
  endif()

  set(inputs)
  foreach(role IN LISTS file_keywords)
    set(path "${ARG_${role}}")
    set(${role} "")  # not a variable of the caller's of the same name
    if(path STREQUAL "")
      continue()
    endif()
    if(path MATCHES "^\\$<TARGET_FILE:([^>]+)>$")
      # The file of a target of this build: depend on the target as well as on its file.
      list(APPEND inputs ${CMAKE_MATCH_1})
    elseif(NOT IS_ABSOLUTE "${path}")
      set(path "${CMAKE_CURRENT_SOURCE_DIR}/${path}")
    endif()
    set(${role} "${path}")
    list(APPEND inputs "${path}")
  endforeach()

  set(pack_options --archive ${ARCHIVE} --setup ${SETUP})
  foreach(option IN ITEMS ARCHIVE_NAME ARCHIVE_TYPE SETUP_FORM SETUP_NAME)
    if(DEFINED ARG_${option})
      string(TOLOWER ${option} name)
      string(REPLACE "_" "-" name ${name})
      list(APPEND pack_options --${name} ${ARG_${option}})
    endif()
  endforeach()
  foreach(option IN ITEMS PREVIOUS_VERSION ${vendor_texts})
    if(DEFINED ARG_${option})
      string(TOLOWER ${option} name)
      string(REPLACE "_" "-" name ${name})
      _bootstrap_installer_text(value "${ARG_${option}}")
      list(APPEND pack_options --${name} "${value}")
    endif()
  endforeach()
  foreach(role IN ITEMS ICON STUB)
    if(${role})
      string(TOLOWER ${role} name)
      list(APPEND pack_options --${name} ${${role}})
    endif()
  endforeach()

  set(output_name ${target})
  if(ARG_OUTPUT_NAME)
    set(output_name ${ARG_OUTPUT_NAME})
  endif()
  # Named here, since a signed installer is packed under a passing name first.
  if(NOT DEFINED ARG_ORIGINAL_FILENAME)
    list(APPEND pack_options --original-filename ${output_name}.exe)
  endif()
  set(output_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  if(NOT output_directory)
    set(output_directory ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(output ${output_directory}/${output_name}.exe)
  set(sbom)
  if(ARG_SBOM)
    cmake_path(ABSOLUTE_PATH ARG_SBOM BASE_DIRECTORY ${output_directory} OUTPUT_VARIABLE sbom)
  endif()

  if(ARG_CERTIFICATE OR ARG_PKCS12)
    if(ARG_PKCS12)
      set(signer -pkcs12 ${PKCS12})
    else()
      set(signer -certs ${CERTIFICATE} -key ${KEY})
    endif()
    if(PASSWORD_FILE)
      list(APPEND signer -readpass ${PASSWORD_FILE})
    endif()
    if(ARG_TIMESTAMP_URL)
      list(APPEND signer -ts ${ARG_TIMESTAMP_URL})
    endif()
    set(description "Drelix installer")
    if(DEFINED ARG_PRODUCT_NAME)
      _bootstrap_installer_text(description "${ARG_PRODUCT_NAME}")
    endif()
    # Packed and signed under other names and renamed at the end, so a failed signing leaves no
    # installer that looks signed.
    set(commands
      COMMAND ${DRELIX_PACK_EXECUTABLE} ${pack_options} --output ${output}.unsigned
      COMMAND ${CMAKE_COMMAND} -E rm -f ${output}.signed
      COMMAND ${OSSLSIGNCODE_EXECUTABLE} sign ${signer} -h sha256
              -n "${description}" -in ${output}.unsigned -out ${output}.signed
      COMMAND ${CMAKE_COMMAND} -E rm -f ${output}.unsigned
      COMMAND ${CMAKE_COMMAND} -E rename ${output}.signed ${output})
    if(sbom)
      list(APPEND commands COMMAND ${DRELIX_PACK_EXECUTABLE} --inspect ${output} --sbom ${sbom})
    endif()
  else()
    if(sbom)
      list(APPEND pack_options --sbom ${sbom})
    endif()
    set(commands COMMAND ${DRELIX_PACK_EXECUTABLE} ${pack_options} --output ${output})
  endif()
  # In this tree the tool is itself built: its target comes first.
  if(TARGET drelix_pack_native)
    list(APPEND inputs drelix_pack_native)
  endif()
  add_custom_command(
    OUTPUT ${output} ${sbom}
    ${commands}
    DEPENDS ${inputs} ${DRELIX_PACK_EXECUTABLE}
    COMMENT "Packing ${target} with drelix-pack"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  # The tests check every installer the build packs (tests/packaging/CMakeLists.txt).
  set_property(TARGET ${target} PROPERTY BOOTSTRAP_INSTALLER_FILE ${output})
  set_property(GLOBAL APPEND PROPERTY BOOTSTRAP_INSTALLER_TARGETS ${target})
endfunction()
