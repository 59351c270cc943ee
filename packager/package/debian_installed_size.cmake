# CPack's post-build step for the Debian package. CPack counts Installed-Size with the sizes of its
# staging directories, which depend on the file system it stages on (4 KiB each on ext4, a few bytes
# on tmpfs), so one commit would give different packages on different machines. The package is
# built again with dpkg-deb, its size counted from the package's own contents as dpkg-gencontrol
# counts it: each file's size in KiB rounded up, and 1 KiB for each directory.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/debian-tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${tree} ${tree}/*)
  set(kibibytes 0)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^DEBIAN(/|$)")
      continue()
    elseif(IS_DIRECTORY ${tree}/${entry})
      math(EXPR kibibytes "${kibibytes} + 1")
    else()
      file(SIZE ${tree}/${entry} size)
      math(EXPR kibibytes "${kibibytes} + (${size} + 1023) / 1024")
    endif()
  endforeach()
  file(READ ${tree}/DEBIAN/control control)
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kibibytes}\n" control "${control}")
  file(WRITE ${tree}/DEBIAN/control "${control}")
  # Owners root, every time no later than SOURCE_DATE_EPOCH when it is set, members sorted.
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
