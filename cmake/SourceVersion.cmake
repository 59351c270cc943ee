# The one version of everything this tree builds and ships, taken from the source history:
#   DRELIX_VERSION         what --version, the packages and the installer's build identity say:
#                          "1.2.0" on a commit tagged v1.2.0, "1.2.0+3.g1a2b3c4" three commits later
#   DRELIX_VERSION_NUMBER  its release number alone ("1.2.0"), for the CMake package version
#   DRELIX_SOURCE_COMMIT   the full commit hash, or "unknown"
#   DRELIX_SOURCE_DATE     the commit's date (YYYY-MM-DD), for the manual page
#   DRELIX_SOURCE_TIME     the commit's time in seconds since 1970, for the Debian changelog
# The release number is that of the nearest tag vX.Y.Z. A clone without tags (CI's shallow one)
# takes the newest release of CHANGELOG.md with the commit appended ("1.2.0+g1a2b3c4"), and a tree
# without git history at all that release with "+unknown".
set(DRELIX_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

file(STRINGS ${DRELIX_SOURCE_ROOT}/CHANGELOG.md changelog_release REGEX "^## [0-9]+\\.[0-9]+\\.[0-9]+ " LIMIT_COUNT 1)
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" changelog_release "${changelog_release}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DRELIX_SOURCE_ROOT}/CHANGELOG.md)

find_package(Git QUIET)
set(DRELIX_SOURCE_COMMIT unknown)
set(described "")
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD WORKING_DIRECTORY ${DRELIX_SOURCE_ROOT}
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE no_history ERROR_QUIET)
  if(NOT no_history)
    set(DRELIX_SOURCE_COMMIT ${commit})
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --long --abbrev=7 --match "v[0-9]*.[0-9]*.[0-9]*"
                    WORKING_DIRECTORY ${DRELIX_SOURCE_ROOT} OUTPUT_VARIABLE described
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct WORKING_DIRECTORY ${DRELIX_SOURCE_ROOT}
                    OUTPUT_VARIABLE DRELIX_SOURCE_TIME OUTPUT_STRIP_TRAILING_WHITESPACE)
    # A new commit or tag configures again, so no build reports an old version.
    foreach(reference HEAD packed-refs refs/tags)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${reference}
                      WORKING_DIRECTORY ${DRELIX_SOURCE_ROOT} OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(EXISTS "${path}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
      endif()
    endforeach()
    execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD WORKING_DIRECTORY ${DRELIX_SOURCE_ROOT}
                    OUTPUT_VARIABLE branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(branch)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${branch}
                      WORKING_DIRECTORY ${DRELIX_SOURCE_ROOT} OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(EXISTS "${path}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
      endif()
    endif()
  endif()
endif()

if(described MATCHES "^v([0-9]+\\.[0-9]+\\.[0-9]+)-([0-9]+)-g([0-9a-f]+)$")
  set(DRELIX_VERSION_NUMBER ${CMAKE_MATCH_1})
  if(CMAKE_MATCH_2 EQUAL 0)
    set(DRELIX_VERSION ${CMAKE_MATCH_1})
  else()
    set(DRELIX_VERSION ${CMAKE_MATCH_1}+${CMAKE_MATCH_2}.g${CMAKE_MATCH_3})
  endif()
elseif(NOT DRELIX_SOURCE_COMMIT STREQUAL "unknown")
  set(DRELIX_VERSION_NUMBER ${changelog_release})
  string(SUBSTRING ${DRELIX_SOURCE_COMMIT} 0 7 short_commit)
  set(DRELIX_VERSION ${changelog_release}+g${short_commit})
else()
  set(DRELIX_VERSION_NUMBER ${changelog_release})
  set(DRELIX_VERSION ${changelog_release}+unknown)
endif()
if(NOT DRELIX_SOURCE_TIME)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(DRELIX_SOURCE_TIME $ENV{SOURCE_DATE_EPOCH})
  else()
    set(DRELIX_SOURCE_TIME 315532800)  # 1980-01-01, the earliest date a zip or cabinet holds
  endif()
endif()
# string(TIMESTAMP) formats SOURCE_DATE_EPOCH in place of the current time.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${DRELIX_SOURCE_TIME})
string(TIMESTAMP DRELIX_SOURCE_DATE "%Y-%m-%d" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
# The commits since the release, the fourth number of a Windows version resource.
set(DRELIX_VERSION_DISTANCE 0)
if(DRELIX_VERSION MATCHES "\\+([0-9]+)\\.g")
  set(DRELIX_VERSION_DISTANCE ${CMAKE_MATCH_1})
endif()
