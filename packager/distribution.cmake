# What is installed and packaged with drelix-pack, in one layout for both hosts: the tool in bin/,
# its documents in share/doc/drelix-pack/ and the CMake package DrelixBootstrap in
# lib/cmake/DrelixBootstrap/ (with the tool's rows of vendor texts, which give it its keywords). The
# native build installs the Linux tool, with its manual page, and CPack makes a Debian package; the
# cross build installs drelix-pack.exe, and CPack makes a .zip.
#
# Run with SOURCE_DATE_EPOCH set (scripts/release.sh sets it from the last commit), every file
# packaged carries that time, so two builds of one commit give the same package bytes.
set(docs_root ${CMAKE_CURRENT_LIST_DIR}/..)
set(package_sources ${CMAKE_CURRENT_LIST_DIR}/package)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The packaging part of the README, as a document of its own: cut out of the README at configure
# time, so the two never differ.
file(READ ${docs_root}/README.md readme)
string(FIND "${readme}" "\n## Packaging your own product\n" section_start)
if(section_start EQUAL -1)
  message(FATAL_ERROR "README.md has no section \"## Packaging your own product\" to install")
endif()
math(EXPR section_start "${section_start} + 1")
string(SUBSTRING "${readme}" ${section_start} -1 section)
string(FIND "${section}" "\n## " section_end)
string(SUBSTRING "${section}" 0 ${section_end} section)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${docs_root}/README.md)
set(packaging_document ${CMAKE_CURRENT_BINARY_DIR}/packaging.md)
# Under a title of its own.
string(REGEX REPLACE "^## [^\n]*" "# Packaging your own product with drelix-pack" section "${section}")
file(CONFIGURE OUTPUT ${packaging_document} CONTENT "${section}\n" @ONLY)
# The JSON form of --inspect and the SBOM are contracts for other programs: their pages and the
# report's schema go with the tool.
set(documents ${docs_root}/docs/exit-codes.md ${docs_root}/docs/setup-program.md ${packaging_document}
    ${docs_root}/docs/inspect-report.md ${docs_root}/docs/inspect-report.schema.json ${docs_root}/docs/sbom.md)
set(document_directory ${CMAKE_INSTALL_DATAROOTDIR}/doc/drelix-pack)

set(CPACK_PACKAGE_NAME drelix-pack)
set(CPACK_PACKAGE_VENDOR Zarvelo)
set(CPACK_PACKAGE_VERSION ${DRELIX_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Packs a product archive and setup program into a silent Windows installer")
set(CPACK_PACKAGE_CONTACT "Zarvelo <installer@zarvelo.example>")
set(CPACK_STRIP_FILES OFF)  # the tool is linked stripped already

install(TARGETS drelix-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${documents} DESTINATION ${document_directory})
set(package_directory ${CMAKE_INSTALL_LIBDIR}/cmake/DrelixBootstrap)
set(DRELIX_PACK_FILE_NAME drelix-pack${CMAKE_EXECUTABLE_SUFFIX})
configure_package_config_file(${package_sources}/DrelixBootstrapConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfig.cmake
  INSTALL_DESTINATION ${package_directory} PATH_VARS CMAKE_INSTALL_BINDIR)
# The package runs the tool, not code of the caller's architecture: any version-compatible
# consumer may use it, whatever its pointer size.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfigVersion.cmake
  VERSION ${DRELIX_VERSION_NUMBER} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfigVersion.cmake
              ${docs_root}/cmake/BootstrapInstaller.cmake
              ${CMAKE_CURRENT_LIST_DIR}/pack/vendor_text_fields.inc
        DESTINATION ${package_directory})

if(WIN32)
  # The licence as it stands, and the notices of the libraries linked into the .exe.
  install(FILES ${docs_root}/LICENSE ${docs_root}/CHANGELOG.md ${package_sources}/THIRD-PARTY-NOTICES.txt
          DESTINATION ${document_directory})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME drelix-pack-${DRELIX_VERSION}-windows-x64)
  set(CPACK_POST_BUILD_SCRIPTS ${package_sources}/sorted_zip.cmake)
else()
  # Debian's own forms: the licence in the machine-readable copyright format, the changelog made
  # from CHANGELOG.md and a manual page made from the tool's --help, both compressed reproducibly.
  file(READ ${docs_root}/LICENSE licence)
  string(REGEX REPLACE "^Copyright \\(C\\) ([^\n]*)\n\n" "" licence_terms "${licence}")
  set(licence_holder ${CMAKE_MATCH_1})
  string(REGEX REPLACE "\n+$" "" licence_terms "${licence_terms}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence_terms "${licence_terms}")
  string(REGEX REPLACE "\n" "\n " licence_terms " ${licence_terms}")
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: drelix-pack
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${licence_holder}
License: Zlib
${licence_terms}
")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${docs_root}/LICENSE)
  set(debian_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  set(manual_page ${CMAKE_CURRENT_BINARY_DIR}/drelix-pack.1.gz)
  add_custom_command(
    OUTPUT ${debian_changelog}
    COMMAND sh ${package_sources}/debian_changelog.sh ${docs_root}/CHANGELOG.md ${DRELIX_VERSION}
            ${DRELIX_SOURCE_COMMIT} ${DRELIX_SOURCE_TIME} ${CPACK_PACKAGE_CONTACT} ${debian_changelog}
    DEPENDS ${docs_root}/CHANGELOG.md ${package_sources}/debian_changelog.sh
    COMMENT "Writing the Debian changelog from CHANGELOG.md"
    VERBATIM)
  add_custom_command(
    OUTPUT ${manual_page}
    COMMAND sh ${package_sources}/manual_page.sh $<TARGET_FILE:drelix-pack> ${DRELIX_VERSION} ${DRELIX_SOURCE_DATE}
            ${manual_page}
    DEPENDS drelix-pack ${package_sources}/manual_page.sh
    COMMENT "Writing the manual page drelix-pack(1) from the tool's --help"
    VERBATIM)
  add_custom_target(drelix_pack_documents ALL DEPENDS ${debian_changelog} ${manual_page})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${debian_changelog} DESTINATION ${document_directory})
  install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake (>= 3.25), osslsigncode, wine")
  # The long description; CPack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "drelix-pack writes a product archive and its setup program as resources into
a copy of the Drelix bootstrap installer, a silent installer for 64-bit
Windows that unpacks them into a protected scratch directory, runs the setup
program and cleans up. It compresses the setup program into a cabinet
itself, sets the installer's icon and version texts, and inspects any
installer: what it carries, whether it would unpack, and how its image is
hardened.
.
The CMake package DrelixBootstrap makes the same call from a build, with
add_bootstrap_installer, and signs the installer with osslsigncode. No
compiler and no Windows tool chain are needed.")
  set(CPACK_POST_BUILD_SCRIPTS ${package_sources}/debian_installed_size.cmake)
endif()
include(CPack)
