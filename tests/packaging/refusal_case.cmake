# Calls add_bootstrap_installer with the arguments in ARGUMENTS. Every case given here must be
# refused while the function checks its arguments; a call that is accepted goes on to commands a
# script cannot run, and fails with another message.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/BootstrapInstaller.cmake)
separate_arguments(arguments UNIX_COMMAND "${ARGUMENTS}")
add_bootstrap_installer(refused ${arguments})
