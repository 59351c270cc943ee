# CPack's post-build step for the .zip. CPack adds a directory's files in the order the file system
# lists them, which differs between machines; the archive is written again here with its members
# sorted, so one commit gives the same bytes everywhere (at SOURCE_DATE_EPOCH, which `cmake -E tar`
# honours as CPack does).
get_filename_component(staging_parent ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
file(GLOB_RECURSE members LIST_DIRECTORIES false RELATIVE ${staging_parent} ${CPACK_TEMPORARY_DIRECTORY}/*)
list(SORT members)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE ${package})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${package} --format=zip -- ${members}
                  WORKING_DIRECTORY ${staging_parent} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
