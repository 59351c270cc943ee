# What is installed and packaged with drelix-pack. The native build installs the Linux tool, its
# documents and the CMake package DrelixBootstrap, and CPack makes them a Debian package; the cross
# build installs drelix-pack.exe and the documents, and CPack makes them a .zip.
#
# Run with SOURCE_DATE_EPOCH set (scripts/release.sh sets it from the last commit), every file
# packaged carries that time, so two builds of one commit give the same package bytes.
set(docs_root ${CMAKE_CURRENT_LIST_DIR}/..)

# The tool's version is the one it reports with --version.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/tool_version.h version_line REGEX "kToolVersion = \"[0-9.]+\"")
string(REGEX MATCH "[0-9.]+" DRELIX_PACK_VERSION "${version_line}")

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
# The JSON form of --inspect is a contract for other programs: its page and schema go with the tool.
set(documents ${docs_root}/docs/exit-codes.md ${packaging_document} ${docs_root}/docs/inspect-report.md
    ${docs_root}/docs/inspect-report.schema.json)

set(CPACK_PACKAGE_NAME drelix-pack)
set(CPACK_PACKAGE_VENDOR Zarvelo)
set(CPACK_PACKAGE_VERSION ${DRELIX_PACK_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Packs a product archive and setup program into a silent Windows installer")
set(CPACK_PACKAGE_CONTACT "Zarvelo <installer@zarvelo.example>")
set(CPACK_STRIP_FILES OFF)  # the tool is linked stripped already
if(WIN32)
  install(TARGETS drelix-pack RUNTIME DESTINATION .)
  install(FILES ${documents} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME drelix-pack-${DRELIX_PACK_VERSION}-windows-x64)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package/sorted_zip.cmake)
else()
  include(GNUInstallDirs)
  include(CMakePackageConfigHelpers)
  install(TARGETS drelix-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${documents} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/drelix-pack)
  set(package_directory ${CMAKE_INSTALL_LIBDIR}/cmake/DrelixBootstrap)
  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/DrelixBootstrapConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfig.cmake
    INSTALL_DESTINATION ${package_directory} PATH_VARS CMAKE_INSTALL_BINDIR)
  # The package runs the tool, not code of the caller's architecture: any version-compatible
  # consumer may use it, whatever its pointer size.
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfigVersion.cmake
    VERSION ${DRELIX_PACK_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfig.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/DrelixBootstrapConfigVersion.cmake
                ${docs_root}/cmake/BootstrapInstaller.cmake
          DESTINATION ${package_directory})
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake (>= 3.25), osslsigncode, wine")
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package/debian_installed_size.cmake)
endif()
include(CPack)
